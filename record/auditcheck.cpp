#include "record/auditcheck.h"

#include "record/jsonmembers.h"

#include <QJsonDocument>
#include <QSet>
#include <QThreadPool>
#include <QVector>

#include <algorithm>

namespace {

constexpr QLatin1String kPrev("prev");
constexpr QLatin1String kSeq("seq");
constexpr QLatin1String kSigner("signer");
constexpr QLatin1String kRepair("repair");
constexpr QLatin1String kLate("late");
constexpr QLatin1String kSignIn("signIn");
constexpr QLatin1String kSignOut("signOut");
constexpr QLatin1String kSignOff("signOff");
constexpr QLatin1String kPerson("person");

using Fault = Audit::Verification::Fault;

QByteArray firstPrev()
{
    return QByteArray(64, '0');
}

QString linesBefore(int count)
{
    return count == 1 ? QStringLiteral("1 line before it was removed")
                      : QStringLiteral("%1 lines before it were removed").arg(count);
}

// What checking a record needs of one line.
struct LineFacts
{
    enum Form : char { Blank, Readable, Unreadable };
    enum Signature : char { Unsigned, Good, Bad, Untrusted, Unchecked, Refused };
    enum Kind : char { Attempt, Repair, Late, SignIn, SignOut, SignOff };
    QByteArray hash;
    QByteArray prev; // empty: the line has none
    QByteArray signer;
    QByteArray carries; // a repair line: the hash of the line it carries
    QJsonObject special; // a repair line's "repair", a late line's "late", a person's line's own
    QByteArray person; // the operator a line names, or the person who signs it
    QString operatorName; // as the line gives it
    QString refusal; // Refused: why the trusted key may not sign it
    qint64 time = Audit::kNoTime;
    int seq = 0; // 0: none
    Kind kind = Attempt;
    int bytes = 0;
    int nuls = 0; // NUL bytes in a line that cannot be read
    Form form = Blank;
    Signature signature = Unsigned;
    bool crlf = false;
    bool late = false;
    QByteArray withoutNuls; // the hash of such a line without them, where it can be read then
};

// Why a trusted key may not sign this line: the role its kind asks for, the line's time within
// the key's validity, and a person's own key for a person's line.
QString refusal(const LineFacts &line, const Trust::Key &key)
{
    using Trust::Role;
    const bool persons = line.kind == LineFacts::SignIn || line.kind == LineFacts::SignOut
        || line.kind == LineFacts::SignOff;
    QList<Role> roles {Role::Station};
    if (line.kind == LineFacts::SignIn || line.kind == LineFacts::SignOut)
        roles = {Role::Operator};
    else if (line.kind == LineFacts::SignOff)
        roles
            = line.special.value(QStringLiteral("meaning")).toString() == QLatin1String("approved")
            ? QList<Role> {Role::Approver}
            : QList<Role> {Role::Reviewer, Role::Approver};
    if (persons && !key.person())
        return QStringLiteral("a key that is no person's");
    if (!persons && key.person())
        return QStringLiteral("%1's own key, not a station's").arg(key.name);
    const QString why
        = key.refusal(roles, line.time == Audit::kNoTime ? Trust::kAlways : line.time);
    return why.isEmpty() ? why
                         : QStringLiteral("%1, %2").arg(
                             key.name.isEmpty() ? QLatin1String(key.fingerprint) : key.name, why);
}

LineFacts facts(const Audit::Lines &lines, int i, const Trust::Keys *trusted)
{
    LineFacts line;
    const QByteArray text = lines.at(i);
    line.crlf = lines.endsInCr(i);
    line.bytes = text.size();
    if (Audit::isBlank(text))
        return line;
    line.hash = Audit::lineHash(text);
    JsonMembers members;
    if (!members.read(text)) {
        line.form = LineFacts::Unreadable;
        line.nuls = text.count('\0');
        if (line.nuls > 0) {
            QByteArray clean(text.constData(), text.size());
            clean.replace('\0', QByteArray());
            JsonMembers cleaned;
            if (cleaned.read(clean))
                line.withoutNuls = Audit::lineHash(clean);
        }
        return line;
    }
    line.form = LineFacts::Readable;
    line.prev = members.string(kPrev).toLatin1();
    line.seq = qMax(0, members.integer(kSeq, 0));
    line.signer = members.string(kSigner).toLatin1();
    line.person = members.string(kPerson).toLatin1();
    line.operatorName = members.string(QLatin1String("operator"));
    line.time = Audit::lineTime(members.string(QLatin1String("time")));
    line.late = members.contains(kLate);
    for (const auto &[member, kind] : {std::pair {kRepair, LineFacts::Repair},
                                       {kLate, LineFacts::Late},
                                       {kSignIn, LineFacts::SignIn},
                                       {kSignOut, LineFacts::SignOut},
                                       {kSignOff, LineFacts::SignOff}})
        if (members.contains(member)) {
            line.kind = kind;
            // Lines of these kinds are few: read whole.
            const QJsonObject object = QJsonDocument::fromJson(text).object();
            line.special = object.value(member).toObject();
            if (kind == LineFacts::Repair) {
                line.carries = line.special.value(QStringLiteral("sha256")).toString().toLatin1();
                for (const char *key : {"time", "host", "user", "operator"})
                    line.special.insert(QLatin1String(key), object.value(QLatin1String(key)));
            }
            break;
        }
    if (line.signer.isEmpty()) {
        line.signature = LineFacts::Unsigned;
    } else if (!trusted) {
        line.signature = LineFacts::Unchecked;
    } else if (!trusted->contains(line.signer)) {
        line.signature = LineFacts::Untrusted;
    } else {
        // A line that names its signer but no longer has its signature where the signer put it
        // was rewritten (a JSON tool that sorts the keys moves it): it does not match.
        const Trust::Key &key = trusted->value(line.signer);
        QByteArray body;
        QByteArray signature;
        line.signature = Signature::split(text, &body, &signature)
                && Signature::verify(body, signature, key.publicKey)
            ? LineFacts::Good
            : LineFacts::Bad;
        if (line.signature == LineFacts::Good) {
            line.refusal = refusal(line, key);
            if (!line.refusal.isEmpty())
                line.signature = LineFacts::Refused;
        }
    }
    return line;
}

// The facts of every line of data. Hashing, parsing and checking signatures take most of the
// time, line by line independently: the lines are shared out between the processor's cores.
QVector<LineFacts> lineFacts(const Audit::Lines &split, const Trust::Keys *trusted)
{
    QVector<LineFacts> all(split.size());
    const auto work = [&](int from, int to) {
        for (int i = from; i < to; ++i)
            all[i] = facts(split, i, trusted);
    };
    QThreadPool pool;
    const int shares = qMax(1, pool.maxThreadCount());
    const int size = (all.size() + shares - 1) / shares;
    for (int from = size; from < all.size(); from += size)
        pool.start([&work, from, size, &all] { work(from, qMin(from + size, all.size())); });
    work(0, qMin(size, all.size()));
    pool.waitForDone();
    return all;
}

// The chain walked from the first line to the last, each line held to the one before it.
class Walk
{
public:
    Walk(const QVector<LineFacts> &facts, bool endsWithNewline, Audit::Verification &check)
        : m_facts(facts)
        , m_endsWithNewline(endsWithNewline)
        , m_check(check)
        , m_place(facts.size())
    { }

    void run();
    /// The place in the chain (the seq due) of each line; 0 for none.
    const QVector<int> &places() const { return m_place; }

private:
    enum class Next { Resync, Skip, Lost };
    void fault(int i, Fault::Kind kind, const QString &problem)
    {
        m_check.faults.append({i + 1, kind, problem});
        m_atFault.insert(i);
    }
    int nextChained(int i) const;
    bool lastLine(int i) const;
    QString unreadable(int i) const;
    Next diagnose(int i);
    void linked(int i, int seqDue);

    const QVector<LineFacts> &m_facts;
    const bool m_endsWithNewline;
    Audit::Verification &m_check;
    QVector<int> m_place;
    QSet<int> m_atFault;
    QHash<QByteArray, int> m_byHash; // each line's first place, made at the first break
    int m_previous = -1; // the line the next one chains to
    int m_due = 1; // the seq due after it
    int m_lost = 0; // seq places since then taken by lines that are no part of the chain
    bool m_unchecked = false; // the next link cannot be checked: a line before it was lost
    bool m_chained = false;
    int m_swapped = -1; // a line found in the place of the one before it: passed over
};

int Walk::nextChained(int i) const
{
    for (int j = i + 1; j < m_facts.size(); ++j)
        if (m_facts[j].form == LineFacts::Readable && !m_facts[j].prev.isEmpty())
            return j;
    return -1;
}

bool Walk::lastLine(int i) const
{
    for (int j = i + 1; j < m_facts.size(); ++j)
        if (m_facts[j].form != LineFacts::Blank)
            return false;
    return true;
}

QString Walk::unreadable(int i) const
{
    const LineFacts &line = m_facts[i];
    const QString advice
        = QStringLiteral("; \"tempyra-cli audit repair\" carries it into the record");
    if (line.nuls > 0) {
        const int next = nextChained(i);
        const bool intact
            = !line.withoutNuls.isEmpty() && next >= 0 && m_facts[next].prev == line.withoutNuls;
        return QStringLiteral("holds %1 (zeros from a crash or a disk fault)%2")
                   .arg(line.nuls == 1 ? QStringLiteral("a NUL byte")
                                       : QStringLiteral("%1 NUL bytes").arg(line.nuls),
                        intact ? QStringLiteral(" that %1 not written with it: without %2 it is "
                                                "intact")
                                     .arg(QLatin1String(line.nuls == 1 ? "was" : "were"),
                                          QLatin1String(line.nuls == 1 ? "it" : "them"))
                               : QStringLiteral(" and cannot be read"))
            + advice;
    }
    if (lastLine(i) && !m_endsWithNewline)
        return QStringLiteral("is cut short (not valid JSON): a write was interrupted") + advice;
    return QStringLiteral("cannot be read (not valid JSON, %1 bytes): it was cut short or "
                          "garbled")
               .arg(line.bytes)
        + advice;
}

void Walk::run()
{
    // Repair lines by the hash of the line each carries, in the record's order.
    QHash<QByteArray, QList<int>> carriers;
    for (int i = 0; i < m_facts.size(); ++i)
        if (!m_facts[i].carries.isEmpty())
            carriers[m_facts[i].carries].append(i);

    for (int i = 0; i < m_facts.size(); ++i) {
        const LineFacts &line = m_facts[i];
        if (line.form == LineFacts::Blank || i == m_swapped)
            continue;
        if (line.form == LineFacts::Unreadable) {
            QList<int> &by = carriers[line.hash];
            const auto carrier
                = std::find_if(by.begin(), by.end(), [i](int repair) { return repair > i; });
            if (carrier != by.end()) {
                const QJsonObject &repair = m_facts[*carrier].special;
                const int next = nextChained(i);
                m_check.repairs.append({i + 1, *carrier + 1, line.bytes,
                                        next < 0 || !m_facts[next].carries.isEmpty(), QString(),
                                        repair});
                by.erase(carrier);
            } else {
                fault(i, Fault::Unreadable, unreadable(i));
            }
            m_place[i] = m_due + m_lost;
            ++m_lost;
            continue;
        }
        if (line.prev.isEmpty()) {
            if (m_chained) {
                fault(i, Fault::Chain,
                      QStringLiteral("has no \"prev\": it was put in among chained lines, or "
                                     "changed"));
                ++m_lost;
                m_unchecked = true;
            } else {
                ++m_check.unchained;
                m_previous = i;
            }
            continue;
        }
        const QByteArray expected = m_previous < 0 ? firstPrev() : m_facts[m_previous].hash;
        if (line.prev == expected) {
            // Lines that cannot be read since the one before were never chained: a write cut
            // short, and the next one chained on from the line before it.
            linked(i, m_due);
        } else if (m_lost > 0 || m_unchecked) {
            // Chained to a line that is lost: only its place can be checked.
            linked(i, m_due + m_lost);
        } else {
            switch (diagnose(i)) {
            case Next::Skip:
                break;
            case Next::Lost:
                m_unchecked = true;
                [[fallthrough]];
            case Next::Resync:
                m_place[i] = line.seq;
                m_previous = i;
                m_due = line.seq + 1;
                m_lost = 0;
                m_chained = true;
                break;
            }
        }
    }
}

// Line i chained to the line before it, or to one lost after it: its seq must be seqDue.
void Walk::linked(int i, int seqDue)
{
    const LineFacts &line = m_facts[i];
    m_place[i] = seqDue;
    m_due = seqDue + 1;
    if (line.seq != seqDue) {
        // The lines after it count on from its own seq where they do (lines removed, the chain
        // computed again), else from its place (its seq alone changed).
        const int next = nextChained(i);
        const bool removed = line.seq > seqDue && next >= 0 && m_facts[next].seq == line.seq + 1
            && m_facts[next].prev == line.hash;
        if (removed)
            m_due = line.seq + 1;
        fault(i, Fault::Seq,
              line.seq == 0 ? QStringLiteral("has no seq, where %1 was due").arg(seqDue)
                  : removed
                  ? QStringLiteral("has seq %1 where %2 was due: %3, and its prev was made to "
                                   "name the line before it (the chain computed again)")
                        .arg(line.seq)
                        .arg(seqDue)
                        .arg(linesBefore(line.seq - seqDue))
                  : QStringLiteral("has seq %1 where %2 was due: its seq was changed%3")
                        .arg(line.seq)
                        .arg(seqDue)
                        .arg(line.seq > seqDue ? QStringLiteral(", or %1 and its prev made to fit")
                                                     .arg(linesBefore(line.seq - seqDue))
                                               : QString()));
    }
    m_previous = i;
    m_lost = 0;
    m_unchecked = false;
    m_chained = true;
}

Walk::Next Walk::diagnose(int i)
{
    const LineFacts &line = m_facts[i];
    const int p = m_previous;
    if (m_byHash.isEmpty())
        for (int j = m_facts.size() - 1; j >= 0; --j)
            if (m_facts[j].form != LineFacts::Blank)
                m_byHash.insert(m_facts[j].hash, j);
    const int copy = m_byHash.value(line.hash, -1);
    if (copy < i) {
        fault(i, Fault::Chain,
              QStringLiteral("is a copy of line %1: the same bytes again").arg(copy + 1));
        return Next::Skip;
    }
    if (line.prev == firstPrev()) {
        fault(i, Fault::Chain,
              QStringLiteral("is the first line of another record, joined to this one"));
        return Next::Resync;
    }
    const int parent = m_byHash.value(line.prev, -1);
    const int next = nextChained(i);
    if (parent > i) {
        if (parent == next && p >= 0 && m_facts[next].prev == m_facts[p].hash) {
            fault(i, Fault::Chain,
                  QStringLiteral("is out of order: it was written after line %1, and the two are "
                                 "in each other's place")
                      .arg(next + 1));
            fault(next, Fault::Chain,
                  QStringLiteral("is out of order: it was written before line %1, and the two "
                                 "are in each other's place")
                      .arg(i + 1));
            // The chain goes on from line i, written after next.
            m_swapped = next;
        } else {
            fault(i, Fault::Chain,
                  QStringLiteral("is out of order: it was written after line %1").arg(parent + 1));
        }
        return Next::Resync;
    }
    if (parent >= 0) {
        bool inserted = false;
        for (int j = parent + 1; j < i; ++j) {
            if (m_facts[j].form == LineFacts::Blank || m_atFault.contains(j))
                continue;
            fault(j, Fault::Chain,
                  QStringLiteral("was inserted: line %1 was written right after line %2")
                      .arg(i + 1)
                      .arg(parent + 1));
            inserted = true;
        }
        if (!inserted && !m_atFault.contains(i))
            fault(i, Fault::Chain,
                  QStringLiteral("is out of order: it was written right after line %1")
                      .arg(parent + 1));
        return Next::Resync;
    }
    // Chained to a line the record does not hold.
    if (p < 0) {
        fault(
            i, Fault::Chain,
            line.seq > 1
                ? QStringLiteral("is not the first line written: %1").arg(linesBefore(line.seq - 1))
                : QStringLiteral("is not chained to the start of the record: its prev was "
                                 "changed"));
        return Next::Resync;
    }
    const LineFacts &before = m_facts[p];
    const bool nextFollows = next < 0 || m_facts[next].prev == line.hash;
    if (before.signature == LineFacts::Bad) {
        fault(p, Fault::Chain,
              QStringLiteral("was changed: line %1 was written after another version of it")
                  .arg(i + 1));
        return Next::Resync;
    }
    if (line.seq > 0 && before.seq > 0 && line.seq > before.seq + 1 && nextFollows) {
        fault(i, Fault::Chain,
              QStringLiteral("follows a gap: %1").arg(linesBefore(line.seq - before.seq - 1)));
        return Next::Resync;
    }
    if (!nextFollows || line.signature == LineFacts::Bad) {
        fault(i, Fault::Chain,
              nextFollows
                  ? QStringLiteral("was changed: its prev no longer names line %1").arg(p + 1)
                  : QStringLiteral("was changed or replaced: it does not follow line %1, "
                                   "nor does line %2 follow it")
                        .arg(p + 1)
                        .arg(next + 1));
        return nextFollows ? Next::Resync : Next::Lost;
    }
    if (before.signature == LineFacts::Good) {
        fault(i, Fault::Chain,
              QStringLiteral("does not follow line %1, which is intact: it was written after "
                             "another line (lines of two records joined here, or line %1 put "
                             "in place of the line it followed)")
                  .arg(p + 1));
        return Next::Resync;
    }
    // The record alone cannot tell which of the two happened.
    fault(p, Fault::Chain,
          QStringLiteral("was changed, or line %1 was written after another line (lines of two "
                         "records joined here): line %1 does not follow it")
              .arg(i + 1));
    return Next::Resync;
}

// The line in the place of head.seq whose hash begins with head.hash; -1 when there is none.
int lineOf(const QVector<LineFacts> &facts, const QVector<int> &places, const Audit::Head &head)
{
    for (int i = 0; i < facts.size(); ++i)
        if (places[i] == head.seq && facts[i].form == LineFacts::Readable && !head.hash.isEmpty()
            && facts[i].hash.startsWith(head.hash))
            return i;
    return -1;
}

// Who did the work and who checked it: runs of a station with an operator signed in, and the
// sign-offs of reviewers and approvers.
void people(const QVector<LineFacts> &facts, const QVector<int> &places, const Trust::Keys *trusted,
            Audit::Verification &check)
{
    using Run = Audit::Verification::Run;
    const auto fault = [&check](int i, const QString &problem) {
        check.faults.append({i + 1, Fault::People, problem});
    };
    // A person's name: their key's own where it is trusted and the line's signature holds, else
    // as the line types it.
    const auto name = [trusted](const LineFacts &line, QByteArray person, bool *proven) {
        const auto it = trusted ? trusted->constFind(person) : Trust::Keys::const_iterator();
        *proven
            = trusted && it != trusted->cend() && it->person() && line.signature == LineFacts::Good;
        return *proven ? it->name : line.operatorName;
    };
    QHash<QByteArray, int> open; // the runs signed in and not out yet, by station and person
    QSet<QString> typed;
    int previous = -1; // the readable line before
    for (int i = 0; i < facts.size(); ++i) {
        const LineFacts &line = facts[i];
        if (line.form != LineFacts::Readable)
            continue;
        const QByteArray station
            = line.special.value(QStringLiteral("station")).toString().toLatin1();
        switch (line.kind) {
        case LineFacts::SignIn: {
            Run run;
            run.person = line.signer;
            run.name = name(line, line.signer, &run.proven);
            run.station = station;
            run.signIn = run.last = i + 1;
            run.in = line.time;
            open.insert(station + '/' + line.signer, check.runs.size());
            check.runs.append(run);
            break;
        }
        case LineFacts::SignOut: {
            const auto it = open.find(station + '/' + line.signer);
            if (it == open.end()) {
                fault(i,
                      QStringLiteral("signs %1 out of a run on station %2 they were not "
                                     "signed in to")
                          .arg(line.operatorName, QLatin1String(station)));
                break;
            }
            Run &run = check.runs[*it];
            run.signOut = run.last = i + 1;
            run.out = line.time;
            open.erase(it);
            const QString covers = line.special.value(QStringLiteral("covers")).toString();
            if (previous < 0 || !covers.endsWith(QLatin1String(facts[previous].hash)))
                fault(i,
                      QStringLiteral("says it covers %1, which is not the line before it")
                          .arg(covers));
            break;
        }
        case LineFacts::SignOff: {
            Audit::Verification::SignOff off;
            off.line = i + 1;
            off.person = line.signer;
            off.name = name(line, line.signer, &off.proven);
            off.meaning = line.special.value(QStringLiteral("meaning")).toString();
            off.reason = line.special.value(QStringLiteral("reason")).toString();
            off.zone = line.special.value(QStringLiteral("zone")).toString();
            off.time = line.time;
            const QString covers = line.special.value(QStringLiteral("covers")).toString();
            off.covers = Audit::Head::parse(covers).value_or(Audit::Head());
            const int covered = lineOf(facts, places, off.covers);
            if (covered < 0 || covered >= i)
                fault(i,
                      QStringLiteral("is a sign-off of %1, which this record does not hold "
                                     "before it: it was signed off for another record, or the "
                                     "lines it covers were rewritten")
                          .arg(covers));
            else
                off.coversLine = covered + 1;
            check.signOffs.append(off);
            break;
        }
        default:
            if (line.person.isEmpty()) {
                if (!line.operatorName.isEmpty() && line.kind == LineFacts::Attempt)
                    typed.insert(line.operatorName);
                break;
            }
            const auto it = open.constFind(line.signer + '/' + line.person);
            if (it == open.cend()) {
                fault(i,
                      QStringLiteral("names %1 (%2) as its operator, who is not signed in on "
                                     "this station")
                          .arg(line.operatorName, QLatin1String(line.person)));
                break;
            }
            Run &run = check.runs[*it];
            run.last = i + 1;
            ++run.lines;
        }
        previous = i;
    }
    check.typedOperators = typed.values();
    check.typedOperators.sort();
}

void checkHeads(const QVector<LineFacts> &facts, const QVector<int> &places,
                const QList<Audit::Head> &heads, Audit::Verification &check)
{
    int lastPlace = 0;
    for (int place : places)
        lastPlace = qMax(lastPlace, place);
    for (const Audit::Head &head : heads) {
        Audit::Verification::HeadCheck result {head, false, {}};
        int found = -1;
        // The line in the head's place, one that can be read before one that cannot.
        for (int i = 0; i < facts.size(); ++i)
            if (places[i] == head.seq && (found < 0 || facts[found].form != LineFacts::Readable))
                found = i;
        if (found < 0)
            result.problem = head.seq > lastPlace
                ? QStringLiteral("the record holds no line %1 any more: it ends at seq %2; lines "
                                 "were cut off its end, or it is not the record noted")
                      .arg(head.seq)
                      .arg(lastPlace)
                : QStringLiteral("the record holds no line in the place of seq %1: it is not "
                                 "the record noted, or its chain was rewritten")
                      .arg(head.seq);
        else if (facts[found].form != LineFacts::Readable)
            result.problem = QStringLiteral("line %1, in the place of seq %2, cannot be read")
                                 .arg(found + 1)
                                 .arg(head.seq);
        else if (!facts[found].hash.startsWith(head.hash.toLower()))
            result.problem = QStringLiteral("line %1 (seq %2) is not the line noted: it, or the "
                                            "record before it, was rewritten")
                                 .arg(found + 1)
                                 .arg(head.seq);
        else
            result.held = true;
        check.heads.append(result);
    }
}

} // namespace

namespace Audit {

QList<const Verification::Fault *> Verification::faultsOf(int line) const
{
    QList<const Fault *> found;
    for (int index : faultIndex.value(line))
        found.append(&faults[index]);
    return found;
}

bool Verification::signaturesHold() const
{
    return trustChecked && lines > 0
        && std::none_of(faults.cbegin(), faults.cend(), [](const Fault &fault) {
               return fault.kind == Fault::Signature || fault.kind == Fault::Untrusted
                   || fault.kind == Fault::Unsigned || fault.kind == Fault::Role;
           });
}

bool Verification::passed() const
{
    if (result != Whole || !faults.isEmpty() || (trustChecked && lines == 0))
        return false;
    return std::all_of(heads.cbegin(), heads.cend(),
                       [](const HeadCheck &check) { return check.held; });
}

Verification verify(const QByteArray &data, const Checks &checks)
{
    const Lines split(data);
    const QVector<LineFacts> facts = lineFacts(split, checks.trusted);
    Verification check;
    check.trustChecked = checks.trusted != nullptr;
    for (int i = 0; i < facts.size(); ++i) {
        check.crlf += facts[i].crlf ? 1 : 0;
        if (facts[i].form == LineFacts::Blank)
            check.blank.append(i + 1);
        else
            ++check.lines;
    }
    Walk walk(facts, data.isEmpty() || data.endsWith('\n'), check);
    walk.run();
    for (Verification::Repair &repair : check.repairs)
        repair.device = deviceInFragment(split.at(repair.cutLine - 1));
    const auto last = std::find_if(facts.crbegin(), facts.crend(), [](const LineFacts &line) {
        return line.form == LineFacts::Readable;
    });
    if (last != facts.crend() && !last->prev.isEmpty())
        check.head = {last->seq, last->hash};

    // The signatures, and each signer's lines. Checked, a signer's lines are those that hold.
    QHash<QByteArray, int> signers;
    for (int i = 0; i < facts.size(); ++i) {
        const LineFacts &line = facts[i];
        if (line.form != LineFacts::Readable)
            continue;
        if (check.trustChecked) {
            if (line.signature == LineFacts::Bad)
                check.faults.append({i + 1, Fault::Signature,
                                     QStringLiteral("does not match its signature: it was "
                                                    "changed after it was signed")});
            else if (line.signature == LineFacts::Untrusted)
                check.faults.append({i + 1, Fault::Untrusted,
                                     QStringLiteral("is signed by %1, a key not trusted")
                                         .arg(QLatin1String(line.signer))});
            else if (line.signature == LineFacts::Unsigned)
                check.faults.append({i + 1, Fault::Unsigned, QStringLiteral("is not signed")});
            else if (line.signature == LineFacts::Refused)
                check.faults.append(
                    {i + 1, Fault::Role, QStringLiteral("is signed by %1").arg(line.refusal)});
        }
        if (line.late) {
            if (check.late.isEmpty() || check.late.last().last != i
                || check.late.last().by.value(QStringLiteral("file"))
                    != line.special.value(QStringLiteral("file")))
                check.late.append({i + 1, i + 1, line.special});
            check.late.last().last = i + 1;
        }
    }
    people(facts, walk.places(), checks.trusted, check);
    // A line's own signature first: the proof of a change that the chain only follows from.
    const auto own
        = [](Fault::Kind kind) { return kind >= Fault::Signature && kind <= Fault::Unsigned; };
    std::stable_sort(check.faults.begin(), check.faults.end(),
                     [&own](const Fault &a, const Fault &b) {
                         return a.line != b.line ? a.line < b.line : own(a.kind) && !own(b.kind);
                     });
    for (int i = 0; i < check.faults.size(); ++i)
        check.faultIndex[check.faults[i].line].append(i);
    // Lines are signed off by the sign-offs that hold themselves.
    for (const Verification::SignOff &off : qAsConst(check.signOffs))
        if (off.coversLine > 0 && !check.faultIndex.contains(off.line))
            check.signedOffThrough = qMax(check.signedOffThrough, off.coversLine);
    for (int i = 0; i < facts.size(); ++i) {
        const LineFacts &line = facts[i];
        if (line.form != LineFacts::Readable
            || (check.trustChecked
                && (line.signature != LineFacts::Good || check.faultIndex.contains(i + 1))))
            continue;
        const QByteArray signer
            = line.signature == LineFacts::Unsigned ? QByteArray() : line.signer;
        auto it = signers.find(signer);
        if (it == signers.end()) {
            it = signers.insert(signer, check.signers.size());
            check.signers.append({signer, {}, 0, check.trustChecked});
        }
        Verification::Signer &entry = check.signers[*it];
        if (entry.runs.isEmpty() || entry.runs.last().second != i) // i: the line before, from 1
            entry.runs.append({i + 1, i + 1});
        entry.runs.last().second = i + 1;
        ++entry.count;
    }
    check.result = std::any_of(check.faults.cbegin(), check.faults.cend(),
                               [](const Fault &fault) {
                                   return fault.kind == Fault::Unreadable
                                       || fault.kind == Fault::Chain || fault.kind == Fault::Seq;
                               })
        ? Verification::Broken
        : check.unchained == check.lines && check.lines > 0 ? Verification::Unchained
                                                            : Verification::Whole;
    checkHeads(facts, walk.places(), checks.heads, check);
    return check;
}

std::optional<Verification> verifyFile(const QString &path, const Checks &checks, QString *error,
                                       QByteArray *data)
{
    std::optional<QByteArray> bytes = readRecord(path, error);
    if (!bytes)
        return std::nullopt;
    const Verification check = verify(*bytes, checks);
    if (data)
        *data = std::move(*bytes);
    return check;
}

} // namespace Audit
