#include "record/audit.h"
#include "record/trust.h"
#include "station/report.h"
#include "station/session.h"
#include "station/terminaltext.h"

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

class RecordTest : public QObject
{
    Q_OBJECT

private slots:
    void chain_data();
    void chain();
    void proof_data();
    void proof();
    void append_data();
    void append();
    void expectedList_data();
    void expectedList();
    void summary_data();
    void summary();
    void terminalText_data();
    void terminalText();
    void report_data();
    void report();
    void lineForms_data();
    void lineForms();
    void trust_data();
    void trust();
    void teamFile();
};

namespace {

// A record's lines: the first `legacy` without a chain, as written before lines were chained.
QList<QByteArray> record(int count, int legacy = 0)
{
    QList<QByteArray> lines;
    for (int i = 0; i < count; ++i) {
        const QJsonObject line {{QStringLiteral("device"), QStringLiteral("TL-%1").arg(i + 1)},
                                {QStringLiteral("outcome"), QStringLiteral("verified")}};
        lines.append(i < legacy ? QJsonDocument(line).toJson(QJsonDocument::Compact)
                                : Audit::chainedLine(line, lines.value(i - 1)));
    }
    return lines;
}

// Two station keys, made once: the station's own and another one.
const StationKey &stationKey(int which)
{
    static QTemporaryDir dir;
    static const std::optional<StationKey> keys[]
        = {StationKey::create(dir.filePath(QStringLiteral("a.key")), {}, nullptr),
           StationKey::create(dir.filePath(QStringLiteral("b.key")), {}, nullptr)};
    return *keys[which];
}

// A key trusted as a key file trusts it: for every role, at every time.
Trust::Keys trustAll(const SigningKey &key)
{
    return {
        {key.fingerprint(), {key.fingerprint(), key.publicKey(), {}, {}, true, {}, Trust::kNever}}};
}

QList<QByteArray> signedRecord(int count)
{
    QList<QByteArray> lines;
    for (int i = 0; i < count; ++i)
        lines.append(
            Audit::chainedLine({{QStringLiteral("device"), QStringLiteral("TL-%1").arg(i + 1)},
                                {QStringLiteral("outcome"), QStringLiteral("mismatch")}},
                               lines.value(i - 1), &stationKey(0)));
    return lines;
}

// What an attacker without the key does: lines from first on (from 0) edited as JSON, their
// keys sorted as a JSON tool writes them, and the chain computed again from there.
QList<QByteArray> rewritten(QList<QByteArray> lines, int first, bool stripChain = false)
{
    for (int i = first; i < lines.size(); ++i) {
        QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
        line[QStringLiteral("outcome")] = QStringLiteral("verified");
        if (stripChain) {
            for (const char *key : {"seq", "prev", "signer", "signature"})
                line.remove(QLatin1String(key));
        } else if (i > 0) {
            line[QStringLiteral("prev")] = QString::fromLatin1(Audit::lineHash(lines[i - 1]));
        }
        lines[i] = QJsonDocument(line).toJson(QJsonDocument::Compact);
    }
    return lines;
}

QByteArray joined(const QList<QByteArray> &lines)
{
    QByteArray data;
    for (const QByteArray &line : lines)
        data += line + '\n';
    return data;
}

} // namespace

void RecordTest::chain_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("trust"); // the signatures checked with the station's key
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("faults"); // "LINE KIND: words of its problem"
    QTest::addColumn<int>("unchained");

    const QList<QByteArray> six = record(6);
    const auto row = [](const char *name, const QByteArray &data, int result,
                        const QStringList &faults = {}, int unchained = 0, bool trust = false) {
        QTest::newRow(name) << data << trust << result << faults << unchained;
    };
    using V = Audit::Verification;
    row("intact", joined(six), V::Whole);
    row("empty", QByteArray(), V::Whole);
    QList<QByteArray> lines = six;
    lines[2].replace("verified", "mismatch");
    row("line 3 edited", joined(lines), V::Broken, {"3 chain: was changed"});
    lines = six;
    lines[3].replace("\"prev\":\"", "\"prev\":\"0");
    row("line 4's prev edited", joined(lines), V::Broken, {"4 chain: was changed"});
    lines = six;
    lines.removeAt(3);
    row("line 4 removed", joined(lines), V::Broken, {"4 chain: 1 line before it was removed"});
    lines = six;
    lines.removeFirst();
    row("first line removed", joined(lines), V::Broken, {"1 chain: 1 line before it was removed"});
    lines = six;
    lines.swapItemsAt(1, 2);
    row("lines 2 and 3 swapped", joined(lines), V::Broken,
        {"2 chain: out of order", "3 chain: out of order"});
    lines = six;
    lines.insert(3,
                 Audit::chainedLine({{QStringLiteral("device"), QStringLiteral("TL-9")}}, six[2]));
    row("line 4 inserted, chained to line 3", joined(lines), V::Broken, {"4 chain: inserted"});
    QList<QByteArray> other;
    for (int i = 0; i < 2; ++i)
        other.append(Audit::chainedLine(
            {{QStringLiteral("device"), QStringLiteral("TL-B%1").arg(i)}}, other.value(i - 1)));
    row("another record joined", joined(six + other), V::Broken, {"7 chain: another record"});
    row("the last line appended twice", joined(six + six.mid(5)), V::Broken,
        {"7 chain: a copy of line 6"});
    lines = six;
    lines[1] = "{\"device\":";
    row("line 2 garbled", joined(lines), V::Broken, {"2 unreadable: not valid JSON"});
    QByteArray cut = joined(six);
    cut.chop(20);
    row("last line cut short", cut, V::Broken, {"6 unreadable: cut short"});
    lines = six;
    lines[2] += QByteArray(1, '\0');
    row("a NUL byte after line 3", joined(lines), V::Broken,
        {"3 unreadable: without it it is intact"});
    lines = six;
    lines[4] = QJsonDocument(QJsonObject {{QStringLiteral("device"), QStringLiteral("TL-9")}})
                   .toJson(QJsonDocument::Compact);
    row("a line without prev among chained ones", joined(lines), V::Broken,
        {"5 chain: no \"prev\""});
    // Someone without the key: a line removed, the next one's prev computed again.
    lines = six;
    lines.removeAt(3);
    lines[3] = rewritten(lines, 3).at(3);
    row("a line removed, the chain computed again", joined(lines.mid(0, 4)), V::Broken,
        {"4 seq: 1 line before it was removed"});
    lines = six;
    lines[5].replace("\"seq\":6", "\"seq\":9");
    row("the last line's seq raised", joined(lines), V::Broken, {"6 seq: its seq was changed"});
    // Forms that change no line: Windows line ends, blank lines, a missing last newline.
    row("copied with Windows line ends", joined(six).replace("\n", "\r\n"), V::Whole);
    row("blank lines, one of them last", joined(six).replace("}\n{", "}\n\n \t\n{") + "\n",
        V::Whole);
    row("the last newline missing", joined(six).chopped(1), V::Whole);
    row("written before chaining, then chained", joined(record(5, 2)), V::Whole, {}, 2);
    row("written before chaining only", joined(record(3, 3)), V::Unchained, {}, 3);

    // Lines of two records, both signed by the station: without the key the record cannot
    // tell a splice from a changed line; with it, the intact line is not blamed.
    const QList<QByteArray> first = signedRecord(3);
    QList<QByteArray> second;
    for (int i = 0; i < 3; ++i)
        second.append(
            Audit::chainedLine({{QStringLiteral("device"), QStringLiteral("TL-B%1").arg(i)}},
                               second.value(i - 1), &stationKey(0)));
    const QByteArray spliced = joined(first.mid(0, 1) + second.mid(1));
    row("spliced, checked", spliced, V::Broken, {"2 chain: which is intact"}, 0, true);
    row("spliced, not checked", spliced, V::Broken, {"1 chain: two records joined"});
}

void RecordTest::chain()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, trust);
    QFETCH(int, result);
    QFETCH(QStringList, faults);
    QFETCH(int, unchained);

    const Trust::Keys trusted = trustAll(stationKey(0));
    const Audit::Verification check = Audit::verify(data, {trust ? &trusted : nullptr, {}});
    QCOMPARE(int(check.result), result);
    QCOMPARE(check.unchained, unchained);
    static const char *const kinds[]
        = {"unreadable", "chain", "seq", "signature", "untrusted", "unsigned"};
    QStringList found;
    for (const Audit::Verification::Fault &fault : check.faults)
        found.append(
            QStringLiteral("%1 %2: %3").arg(fault.line).arg(kinds[fault.kind], fault.problem));
    QCOMPARE(found.size(), faults.size());
    for (int i = 0; i < faults.size(); ++i)
        QVERIFY2(found[i].startsWith(faults[i].section(QLatin1Char(':'), 0, 0))
                     && found[i].contains(faults[i].section(QLatin1String(": "), 1)),
                 qPrintable(found.join(QLatin1String(" | "))));
}

void RecordTest::proof_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("trust"); // -1: no key given; else the key trusted
    QTest::addColumn<QStringList>("heads");
    QTest::addColumn<QString>("found");

    const QList<QByteArray> six = signedRecord(6);
    const QString head6 = Audit::Head {6, Audit::lineHash(six[5])}.text();
    const QString head4 = Audit::Head {4, Audit::lineHash(six[3])}.text().left(2 + 16);
    const auto row = [](const char *name, const QList<QByteArray> &lines, int trust,
                        const QStringList &heads, const char *found) {
        QTest::newRow(name) << joined(lines) << trust << heads << QString::fromLatin1(found);
    };
    row("signed, trusted", six, 0, {head6}, "passed; 1-6 A trusted; head held");
    row("signed, no key given", six, -1, {}, "passed; 1-6 A");
    row("signed by a key not trusted", six, 1, {}, "failed; untrusted 1-6");
    row("line 3 rewritten and the chain computed again", rewritten(six, 2), 0, {},
        "failed; signature 3-6; 1-2 A trusted");
    row("the same, no key but a head noted", rewritten(six, 2), -1, {head6},
        "failed; 1-6 A; head not held: line 6 (seq 6) is not the line noted");
    // The old lines pass for lines written before the record was chained.
    QList<QByteArray> stripped = rewritten(six, 0, true).mid(0, 3);
    for (int i = 3; i < 6; ++i)
        stripped.append(Audit::chainedLine(
            {{QStringLiteral("device"), QStringLiteral("TL-%1").arg(i + 1)}}, stripped[i - 1]));
    row("old lines stripped of their chain, the rest chained again", stripped, 0, {},
        "failed; unsigned 1-6");
    row("the same, no key but a head noted", stripped, -1, {head6},
        "failed; 1-6 unsigned; head not held: the record holds no line 6 any more");
    row("two lines cut off the end", six.mid(0, 4), -1, {head6, head4},
        "failed; 1-4 A; head not held: the record holds no line 6 any more; head held");
    QList<QByteArray> raised = six;
    raised[5].replace("\"seq\":6", "\"seq\":9");
    row("the last line's seq raised: the head in its place", raised, -1, {head6},
        "failed; seq 6; 1-6 A; head not held: line 6 (seq 6) is not the line noted");
    row("an empty record: nothing to vouch for", {}, 0, {}, "failed");
    QList<QByteArray> mixed = signedRecord(3);
    mixed.append(Audit::chainedLine({}, mixed.last(), &stationKey(1)));
    mixed.append(Audit::chainedLine({}, mixed.last()));
    row("a line by another station, then an unsigned one", mixed, 0, {},
        "failed; untrusted 4; unsigned 5; 1-3 A trusted");

    // A line cut short, repaired.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cut.jsonl"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(joined(six.mid(0, 4)) + six[4].left(100));
    file.close();
    QString error;
    QVERIFY(Audit::repair(path, &stationKey(0), {}, &error)->lines == QList<int> {5});
    file.open(QIODevice::ReadOnly);
    QTest::newRow("a line cut short, carried by a repair line: its bytes are unsigned")
        << file.readAll() << 0 << QStringList() << "passed; repair 5>6; 1-4,6 A trusted";
}

void RecordTest::proof()
{
    QFETCH(QByteArray, data);
    QFETCH(int, trust);
    QFETCH(QStringList, heads);
    QFETCH(QString, found);

    Trust::Keys trusted;
    if (trust >= 0) {
        const QByteArray file = stationKey(trust).publicKeyFile();
        QTemporaryDir dir;
        QFile pub(dir.filePath(QStringLiteral("station.pub")));
        QVERIFY(pub.open(QIODevice::WriteOnly) && pub.write(file) == file.size());
        pub.close();
        QString error;
        trusted = *Trust::read({dir.path()}, &error);
    }
    Audit::Checks checks {trust >= 0 ? &trusted : nullptr, {}};
    for (const QString &head : heads)
        checks.heads.append(*Audit::Head::parse(head));
    const Audit::Verification check = Audit::verify(data, checks);

    QStringList parts {QLatin1String(check.passed() ? "passed" : "failed")};
    // Faults by kind, as runs of lines: "signature 3-6".
    static const char *const kinds[]
        = {"unreadable", "chain", "seq", "signature", "untrusted", "unsigned"};
    QString kind;
    int from = 0;
    int to = 0;
    const auto run = [](int first, int last) {
        return first == last ? QString::number(first)
                             : QStringLiteral("%1-%2").arg(first).arg(last);
    };
    for (const Audit::Verification::Fault &fault : check.faults) {
        if (kind == QLatin1String(kinds[fault.kind]) && fault.line == to + 1) {
            parts.last() = kind + QLatin1Char(' ') + run(from, to = fault.line);
            continue;
        }
        kind = QLatin1String(kinds[fault.kind]);
        from = to = fault.line;
        parts.append(kind + QLatin1Char(' ') + run(from, to));
    }
    for (const auto &repair : check.repairs)
        parts.append(QStringLiteral("repair %1>%2").arg(repair.cutLine).arg(repair.repairLine));
    for (const auto &signer : check.signers) {
        QStringList runs;
        for (const auto &lines : signer.runs)
            runs.append(run(lines.first, lines.second));
        parts.append(QStringLiteral("%1 %2%3").arg(
            runs.join(QLatin1Char(',')),
            signer.signer.isEmpty()                            ? QStringLiteral("unsigned")
                : signer.signer == stationKey(0).fingerprint() ? QStringLiteral("A")
                                                               : QStringLiteral("B"),
            QLatin1String(signer.trusted ? " trusted" : "")));
    }
    for (const auto &head : check.heads)
        parts.append(head.held ? QStringLiteral("head held")
                               : QStringLiteral("head not held: ")
                             + head.problem.section(QLatin1Char(':'), 0, 0));
    QCOMPARE(parts.join(QLatin1String("; ")), found);
}

void RecordTest::append_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("appended");

    QTest::newRow("new record") << QByteArray() << true;
    QTest::newRow("last line longer than the first read of the end")
        << joined(record(3)).replace("TL-3", QByteArray(20000, 'x')) << true;
    QTest::newRow("record written before chaining") << joined(record(2, 2)) << true;
    QTest::newRow("last line cut short") << joined(record(2)).left(30) << false;
    QTest::newRow("last line whole but for its newline: completed")
        << joined(record(2)).trimmed() << true;
    QList<QByteArray> garbled = record(3);
    garbled[1] = "{\"device\":\"TL-";
    QTest::newRow("a line garbled in the middle") << joined(garbled) << false;
}

void RecordTest::append()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, appended);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("audit.jsonl"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(before) == before.size());
    file.close();
    QString error;
    // One line, then two under one lock.
    for (int count : {1, 2}) {
        QList<QJsonObject> lines;
        for (int i = 0; i < count; ++i) {
            lines.append({{QStringLiteral("device"), QStringLiteral("TL-0007")}});
            Audit::stamp(lines.last(), QStringLiteral("Ana"));
        }
        // As a station appends: held to what it found there first.
        std::optional<Audit::Usable> usable = Audit::usable(path, false, &error);
        QCOMPARE(usable.has_value(), appended);
        if (usable)
            QCOMPARE(Audit::append(path, lines, &stationKey(0), &error, nullptr, &usable->mark),
                     Audit::Appended::Yes);
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray after = file.readAll();
    QVERIFY(!QFile::exists(path + QStringLiteral(".lock")));
    if (!appended) {
        QCOMPARE(after, before);
        return;
    }
    QVERIFY(after.startsWith(before.endsWith('\n') || before.isEmpty() ? before : before + '\n'));
    QVERIFY(Audit::verify(after).passed());
    // The new lines stay whole, each on a line of its own, whatever came before them.
    const QList<QByteArray> lines = after.trimmed().split('\n');
    for (const QByteArray &line : lines.mid(lines.size() - 3))
        QCOMPARE(QJsonDocument::fromJson(line).object().value(QStringLiteral("operator")),
                 QJsonValue(QStringLiteral("Ana")));
}

void RecordTest::expectedList_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("identifiers"); // empty: refused

    QTest::newRow("comments, blank lines, Windows line ends and a byte-order mark")
        << QByteArray("\xef\xbb\xbf# shipment 0412\r\nTL-0001\r\n\r\nTL-0002  # shelf 3\r\n")
        << QStringList {"TL-0001", "TL-0002"};
    QTest::newRow("a name with # inside, listed twice")
        << QByteArray("LAB#7\nLAB#7\n") << QStringList {"LAB#7"};
    QTest::newRow("comments only") << QByteArray("# none yet\n\n") << QStringList();
    QTest::newRow("a line longer than an identifier") << QByteArray(65, 'x') << QStringList();
}

void RecordTest::expectedList()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, identifiers);

    QString error;
    const std::optional<ExpectedList> list = ExpectedList::parse(text, &error);
    QCOMPARE(list ? list->toStringList() : QStringList(), identifiers);
    QCOMPARE(error.isEmpty(), !identifiers.isEmpty());
}

void RecordTest::summary_data()
{
    QTest::addColumn<QStringList>("expected");
    // "logger outcome", in their order, split at the last space; a logger named by its port
    // never identified itself.
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QString>("text");

    QTest::newRow("the last outcome of a logger counts")
        << QStringList() << QStringList {"B mismatch", "A unverified", "B verified"}
        << QByteArray(R"({"failed":["A"],"mismatched":[],"notRecorded":[],"refused":[],)"
                      R"("verified":["B"],"written":[]})")
        << QStringList()
        << "1 verified, 0 mismatched, 1 failed, 0 refused\n  verified  B\n  failed    A";
    QTest::newRow("a list: refused, missing and never seen")
        << QStringList {"A", "B", "C"} << QStringList {"A verified", "X refused", "B unverified"}
        << QByteArray(R"({"failed":["B"],"mismatched":[],"neverSeen":["C"],"notRecorded":[],)"
                      R"("refused":["X"],"verified":["A"],"written":[]})")
        << QStringList {"B", "C"}
        << "1 verified, 0 mismatched, 1 failed, 1 refused, 1 never seen\n"
           "  verified    A\n  failed      B\n  refused     X\n  never seen  C";
    QTest::newRow("near misses of listed loggers; one not identified")
        << QStringList {"tl-2", "TL-3", "TL-4"}
        << QStringList {"TL-2 refused", "TL-3  refused", "ttyACM4 unverified"}
        << QByteArray(R"({"failed":["ttyACM4"],"mismatched":[],"neverSeen":["tl-2","TL-3","TL-4"],)"
                      R"("notRecorded":[],"refused":["TL-2","TL-3 "],"verified":[],"written":[]})")
        << QStringList {"tl-2", "TL-3", "TL-4"}
        << "0 verified, 0 mismatched, 1 failed, 2 refused, 3 not identified\n"
           "  failed          ttyACM4\n  refused         TL-2, TL-3 \n"
           "  not identified  tl-2 (TL-2 was refused: it differs only in case), TL-3 (TL-3  was "
           "refused: it differs only in surrounding spaces), TL-4";
}

void RecordTest::summary()
{
    QFETCH(QStringList, expected);
    QFETCH(QStringList, outcomes);
    QFETCH(QByteArray, json);
    QFETCH(QStringList, missing);
    QFETCH(QString, text);

    Session session;
    QString error;
    if (!expected.isEmpty())
        session.expect(*ExpectedList::parse(expected.join(QLatin1Char('\n')).toUtf8(), &error));
    for (const QString &outcome : outcomes) {
        const QString logger = outcome.section(QLatin1Char(' '), 0, -2);
        session.add(logger, Session::outcome(outcome.section(QLatin1Char(' '), -1)),
                    !logger.startsWith(QLatin1String("tty")));
    }
    QCOMPARE(QJsonDocument(session.json()).toJson(QJsonDocument::Compact), json);
    QCOMPARE(session.missing(), missing);
    QCOMPARE(session.text(12), text);
}

void RecordTest::terminalText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::newRow("a carriage return, an escape sequence, a tab") << "TL-1\r\x1b[2K\t"
                                                                  << R"(TL-1\r\x1b[2K\t)";
    QTest::newRow("C1 control, line and paragraph separators") << "A\u0085B\u2028C\u2029"
                                                               << R"(A\u0085B\u2028C\u2029)";
    QTest::newRow("characters that reorder or hide text")
        << "\u202eTL\u200b\u200f\u2066\u2069\U000E0041"
        << R"(\u202eTL\u200b\u200f\u2066\u2069\U000e0041)";
    QTest::newRow("letters of any script, a backslash, a Windows location")
        << R"(Ölçer-7 \\.\COM5)"
        << R"(Ölçer-7 \\.\COM5)";
}

void RecordTest::terminalText()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(::terminalText(text), shown);
}

namespace {

// An attempt as a station records it at 2026-12-06 08:MM UTC; extra adds or replaces members.
QJsonObject attempt(int minute, const char *device, const char *outcome, QJsonObject extra = {})
{
    QJsonObject line {{QStringLiteral("time"),
                       QStringLiteral("2026-12-06T08:%1:00.000Z").arg(minute, 2, 10, QChar('0'))},
                      {QStringLiteral("device"), QLatin1String(device)},
                      {QStringLiteral("outcome"), QLatin1String(outcome)},
                      {QStringLiteral("port"), QStringLiteral("ttyACM0")},
                      {QStringLiteral("host"), QStringLiteral("packing-1")}};
    for (auto it = extra.begin(); it != extra.end(); ++it)
        line.insert(it.key(), it.value());
    return line;
}

// The rows of one of the page's tables, their cells' text joined by spaces: "CLASS CELL ...".
QStringList tableRows(const QString &page, const QString &table, int cells)
{
    const int start = page.indexOf(QStringLiteral("<table class=\"rows %1\">").arg(table));
    const QString body = page.mid(start, page.indexOf(QStringLiteral("</table>"), start) - start);
    static const QRegularExpression row(QStringLiteral("<tr class=\"(\\w+)\">(.*)</tr>"));
    static const QRegularExpression tag(QStringLiteral("<span class=\"word\">|<[^>]*>"));
    QStringList rows;
    for (auto it = row.globalMatch(body); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QStringList texts {match.captured(1)};
        for (const QString &cell :
             match.captured(2).split(QStringLiteral("</td><td")).mid(0, cells))
            texts.append(
                cell.mid(cell.indexOf('>') + 1).replace(tag, QStringLiteral(" ")).simplified());
        rows.append(texts.join(QLatin1Char(' ')));
    }
    return rows;
}

} // namespace

void RecordTest::report_data()
{
    QTest::addColumn<QList<QByteArray>>("lines"); // chained, unless one is not JSON
    QTest::addColumn<QString>("since");
    QTest::addColumn<QString>("until");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("loggers"); // "FINAL LOGGER FINAL ATTEMPTS"
    QTest::addColumn<QStringList>("rows"); // the attempts table: "CLASS LINE"
    QTest::addColumn<QStringList>("facts"); // texts of the page
    QTest::addColumn<QByteArray>("zone"); // TZ of the computer making the page, if not UTC

    const auto chained = [](const QList<QJsonObject> &objects) {
        QList<QByteArray> lines;
        for (const QJsonObject &object : objects)
            lines.append(Audit::chainedLine(object, lines.value(lines.size() - 1)));
        return lines;
    };
    const QJsonObject stray {{QStringLiteral("port"), QStringLiteral("ttyACM3")}};
    const QJsonObject silent {{QStringLiteral("device"), QString()},
                              {QStringLiteral("identified"), false},
                              {QStringLiteral("port"), QStringLiteral("ttyACM2")},
                              {QStringLiteral("serialNumber"), QStringLiteral("S3")}};
    const QList<QByteArray> shipment = chained(
        {attempt(1, "TL-1", "mismatch", {{QStringLiteral("attempt"), 1}}),
         attempt(2, "", "not written", silent), attempt(3, "TL-9", "refused", stray),
         attempt(4, "TL-1", "verified", {{QStringLiteral("attempt"), 2}}),
         attempt(5, "TL-2", "verified"), attempt(6, "", "not written", silent),
         attempt(7, "", "unverified", {{QStringLiteral("port"), QStringLiteral("ttyACM2")}}),
         attempt(8, "TL-2", "unverified")});
    const QStringList shipmentLoggers {"verified TL-1 verified 2", "failed TL-2 failed 2",
                                       "refused TL-9 refused 1",
                                       "failed ttyACM2, not identified failed 1",
                                       "failed ttyACM2 (USB serial S3), not identified failed 2"};
    QTest::newRow("retries, a stray, loggers without an identifier")
        << shipment << QString() << QString() << QStringList() << shipmentLoggers
        << QStringList {"mismatched 1", "failed 2", "refused 3", "verified 4",
                        "verified 5",   "failed 6", "failed 7",  "failed 8"}
        << QStringList {"5 loggers: 1 verified, 0 mismatched, 3 failed, 1 refused",
                        "8 attempts: 2 verified, 1 mismatched, 4 failed, 1 refused",
                        "verified: the chain of its 8 lines is whole", "Time (UTC)"}
        << QByteArray();
    QTest::newRow("expected list")
        << shipment << QString() << QString() << QStringList {"TL-1", "TL-2", "TL-3"}
        << QStringList(shipmentLoggers).replaceInStrings("TL-9", "TL-9 not on the list")
        << QStringList()
        << QStringList {"3 expected, 1 verified, 2 not verified: TL-2 (failed), TL-3 (no attempt)"}
        << QByteArray();
    QTest::newRow("a period: its last attempt counts")
        << shipment << QString() << "2026-12-06 08:06" << QStringList()
        << QStringList {"verified TL-1 verified 2", "verified TL-2 verified 1",
                        "refused TL-9 refused 1",
                        "failed ttyACM2 (USB serial S3), not identified failed 1"}
        << QStringList {"mismatched 1", "failed 2", "refused 3", "verified 4", "verified 5"}
        << QStringList {"to 2026-12-06 08:06:00 (UTC)"} << QByteArray();

    QList<QJsonObject> many = QVector<QJsonObject>(2499, attempt(9, "TL-1", "verified")).toList();
    many.append(attempt(9, "TL-1", "unverified"));
    QTest::newRow("many lines: the last attempt counts")
        << chained(many) << QString() << QString() << QStringList()
        << QStringList {"failed TL-1 failed 2500"} << QStringList() << QStringList()
        << QByteArray();

    // A line cut short and carried by a repair line; a line that is not JSON shows, whatever
    // the period.
    QList<QByteArray> lines = chained({attempt(1, "TL-1", "verified")});
    const QByteArray cut = chained({attempt(2, "TL-2", "verified")}).first().left(40);
    lines.append(cut);
    lines.append(Audit::chainedLine(
        {{QStringLiteral("repair"),
          QJsonObject {{QStringLiteral("line"), 2},
                       {QStringLiteral("bytes"), 40},
                       {QStringLiteral("sha256"), QString::fromLatin1(Audit::lineHash(cut))}}},
         {QStringLiteral("time"), QStringLiteral("2026-12-06T09:00:00.000Z")},
         {QStringLiteral("user"), QStringLiteral("ana")},
         {QStringLiteral("host"), QStringLiteral("packing-1")}},
        lines.first()));
    lines.append("{\"device\":");
    QTest::newRow("cut, repaired, unreadable")
        << lines << "2026-12-06 08:30" << QString() << QStringList() << QStringList()
        << QStringList {"unreadable 2", "repair 3", "unreadable 4"}
        << QStringList {"line 2 was cut short (40 bytes); line 3 carries it",
                        "BROKEN: the chain of its 4 lines is broken: line 4 at fault",
                        "line 4 cannot be read (not valid JSON, 10 bytes)",
                        "2 lines not readable",
                        "cut short cut short by an interrupted write, 40 bytes; line 3 carries its "
                        "bytes into the record, unsigned",
                        "repair carries line 2, 40 bytes that cannot be read, into the record; "
                        "appended by ana on packing-1",
                        "unreadable not valid JSON, 10 bytes",
                        "TL-2 read from the bytes left - - cut short",
                        "1 repair line"}
        << QByteArray();

    // A logger that failed before it identified itself, known by its USB serial number.
    QTest::newRow("attempts before a logger identified itself")
        << chained({attempt(1, "", "not written", silent), attempt(2, "", "not written", silent),
                    attempt(3, "TL-3", "verified",
                            {{QStringLiteral("serialNumber"), QStringLiteral("S3")}})})
        << QString() << QString() << QStringList {"TL-3"}
        << QStringList {"verified TL-3 verified 3"} << QStringList()
        << QStringList {"1 expected, 1 verified, 0 not verified"} << QByteArray();

    // Signed lines, one changed afterwards: marked where it stands, counted nowhere.
    QList<QByteArray> forged;
    for (const QJsonObject &object :
         {attempt(1, "TL-1", "mismatch"), attempt(2, "TL-2", "verified"),
          attempt(3, "TL-1", "verified")})
        forged.append(Audit::chainedLine(object, forged.value(forged.size() - 1), &stationKey(0)));
    forged[0].replace("\"mismatch\"", "\"verified\"");
    QTest::newRow("a line changed after it was signed")
        << forged << QString() << QString() << QStringList {"TL-1", "TL-2"}
        << QStringList {"verified TL-1 verified and 1 line that fails its checks 1",
                        "verified TL-2 verified 1"}
        << QStringList {"failing 1", "verified 2", "verified 3"}
        << QStringList {"2 attempts: 2 verified, 0 mismatched", "1 line fails its checks: line 1",
                        "fails check it says: verified This line does not match its signature",
                        "signed by a trusted key and holding every check: lines 2 to 3"}
        << QByteArray();

    // Most times at the computer's offset, named in the column's head; the others name theirs.
    QTest::newRow("summer and winter times")
        << chained({attempt(1, "TL-1", "verified",
                            {{QStringLiteral("time"), QStringLiteral("2026-07-01T10:00:00.000Z")}}),
                    attempt(1, "TL-1", "verified"), attempt(2, "TL-2", "verified")})
        << QString() << QString() << QStringList()
        << QStringList {"verified TL-1 verified 2", "verified TL-2 verified 1"} << QStringList()
        << QStringList {"Time (UTC+01:00)", "1 2026-07-01 12:00:00 UTC+02:00 TL-1",
                        "2 2026-12-06 09:01:00 TL-1"}
        << QByteArray("CET-1CEST,M3.5.0,M10.5.0/3");

    // What a logger says and the operator types is shown, never run; a clock is in its zone.
    const QJsonObject clock {
        {QStringLiteral("operator"), QStringLiteral("Zoë \"<i>\"")},
        {QStringLiteral("configuration"),
         QJsonObject {{QStringLiteral("zone"), QStringLiteral("UTC+05:30")}}},
        {QStringLiteral("differences"),
         QJsonArray {QJsonObject {{QStringLiteral("field"), QStringLiteral("clock")},
                                  {QStringLiteral("written"), QStringLiteral("13:31")},
                                  {QStringLiteral("read"), QStringLiteral("<b>")}}}}};
    QTest::newRow("what loggers and people typed; the logger's zone")
        << chained({attempt(1, "<script>TL", "mismatch", clock)}) << QString() << QString()
        << QStringList() << QStringList {"mismatched &lt;script&gt;TL mismatched 1"}
        << QStringList {"mismatched 1"}
        << QStringList {"clock: 13:31 written, &lt;b&gt; read back (UTC+05:30, the logger's zone)",
                        "Zo&#xeb; &quot;&lt;i&gt;&quot;"}
        << QByteArray();
}

void RecordTest::report()
{
    QFETCH(QList<QByteArray>, lines);
    QFETCH(QString, since);
    QFETCH(QString, until);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, loggers);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, facts);
    QFETCH(QByteArray, zone);

    const QByteArray utc = qgetenv("TZ");
    if (!zone.isEmpty())
        qputenv("TZ", zone);
    const auto restore = qScopeGuard([&utc] { qputenv("TZ", utc); });
    if (!zone.isEmpty() && QDateTime(QDate(2026, 7, 1), QTime(12, 0)).offsetFromUtc() != 7200)
        QSKIP("the time zone cannot be set here");
    const QByteArray data = joined(lines);
    const Report::Period period {Report::parseTime(since, false).value_or(QDateTime()),
                                 Report::parseTime(until, true).value_or(QDateTime())};
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    // The record's name goes into the style of each printed page's head.
    // Signed lines are checked with the station's key.
    const Trust::Keys trusted = trustAll(stationKey(0));
    const Audit::Verification check
        = Audit::verify(data, {data.contains("\"signer\"") ? &trusted : nullptr, {}});
    QVERIFY(Report::write(buffer, data, check, QStringLiteral("a\"</style><b>.jsonl"),
                          {period, {}, expected}, QDateTime::currentDateTime()));
    const QString page = QString::fromUtf8(buffer.data());

    QCOMPARE(tableRows(page, QStringLiteral("loggers"), 3), loggers);
    if (!rows.isEmpty())
        QCOMPARE(tableRows(page, QStringLiteral("attempts"), 1), rows);
    QString text = page;
    text.replace(QRegularExpression(QStringLiteral("<[^>]*>")), QStringLiteral(" "));
    text = text.simplified();
    for (const QString &fact : facts)
        QVERIFY2(text.contains(fact), qPrintable(fact));
    for (const char *markup :
         {"<script", "<b>", "<i>", "src=", "url(", "@import", "http:", "https:"})
        QVERIFY2(!page.contains(QLatin1String(markup)), markup);
}

// A line reads the same whatever form its JSON takes: as Qt writes it again, or not at all when
// Qt cannot read it; for the page as for the check.
void RecordTest::lineForms_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("shows"); // in the line's row: "CLASS LINE TIME LOGGER ... WHY"

    const QByteArray write = R"("device":"TL-1","outcome":"mismatch","port":"ttyACM0",)"
                             R"("time":"2026-12-06T10:00:00.000Z","fields":["interval"],)"
                             R"("configuration":{"scale":"F","zone":"UTC+01:00"})";
    const auto with
        = [&write](const QByteArray &members) { return '{' + write + ',' + members + '}'; };
    // Named by the line, the attempt it begins with written W.
    const auto row = [&write](const QByteArray &line, bool readable, const char *shows = "") {
        QTest::newRow(QByteArray(line).replace(write, "W").left(60).constData())
            << line << readable << QString::fromUtf8(shows);
    };
    row("  { " + write + " }\t\r", true, "mismatched 1 2026-12-06 10:00:00 TL-1 ttyACM0 -");
    row(R"({"\u006futcome":"verified","dev\u0069ce":"TL-7"})", true,
        "verified 1 - TL-7 - - verified");
    row(R"({"a\"b":1,"outcome":"verified","device":"TL-8"})", true,
        "verified 1 - TL-8 - - verified");
    row(with(R"("outcome":"refused")"), true, "refused 1");
    row(with(R"("attempt":2.0)"), true, "mismatch attempt 2 interval");
    row(with(R"("attempt":2.5)"), true, "mismatch interval");
    row(with(R"("attempt":"3")"), true, "mismatch interval");
    row(with(R"("operator":"a\tb\u00e9\ud83d\ude00\ud800 \/ \"q\"")"), true,
        "a&#xfffd;b&#xe9;&#x1f600;&#xfffd; / &quot;q&quot; mismatch");
    row(with("\"operator\":\"a\tb\""), true, "ttyACM0 a&#xfffd;b mismatch");
    row(with(QByteArray("\"operator\":\"a\0b\"", 16)), true, "ttyACM0 a&#xfffd;b mismatch");
    row(with(R"("operator":"\a")"), true, "ttyACM0 a mismatch");
    row(with("\"operator\":\"\xef\xbf\xbe\xf4\x8f\xbf\xbf\""), true, "&#xfffe;&#x10ffff;");
    row(with("\"operator\":\"\xed\xa0\x80\""), false);
    row(with("\"operator\":\"\xc0\x80\""), false);
    row(with("\"operator\":\"\xe2\x82\""), false);
    row("\xef\xbb\xbf" + with("\"a\":1"), true, "TL-1");
    row(with("\"a\":" + QByteArray(40, '[') + QByteArray(40, ']')), true, "TL-1");
    row(with("\"a\":" + QByteArray(1100, '[') + QByteArray(1100, ']')), false);
    row(with(R"("a":[-0,1e-3,1E+2,123456789012345678901234567890,.5,1.])"), true, "TL-1");
    row(with(R"("a":1e400)"), false);
    row(with(R"("a":2e-324)"), false);
    row(with(R"("a":01)"), false);
    row(with(R"("a":-)"), false);
    row(with(R"("a":[1,])"), false);
    row(with(R"("a":tru)"), false);
    row(with(R"("a":1)") + " x", false);
    row("[{" + write + "}]", false);
}

void RecordTest::lineForms()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, readable);
    QFETCH(QString, shows);

    const QJsonDocument document = QJsonDocument::fromJson(line);
    QCOMPARE(document.isObject(), readable);
    // A line without a chain: the record is not chained, or broken where it cannot be read.
    const Audit::Verification check = Audit::verify(line + '\n');
    QCOMPARE(check.result, readable ? Audit::Verification::Unchained : Audit::Verification::Broken);
    const auto tables = [](const QByteArray &data) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        Report::write(buffer, data + '\n', Audit::verify(data), QStringLiteral("a.jsonl"), {},
                      QDateTime::currentDateTime());
        const QString page = QString::fromUtf8(buffer.data());
        return tableRows(page, QStringLiteral("attempts"), 7)
            + tableRows(page, QStringLiteral("loggers"), 6);
    };
    const QStringList rows = tables(line);
    QVERIFY2(readable ? rows.first().contains(shows)
                      : rows.first().startsWith(QLatin1String("unreadable 1")),
             qPrintable(rows.first()));
    if (readable)
        QCOMPARE(rows, tables(document.toJson(QJsonDocument::Compact)));
}

// Whether a team's key may sign as roles at a time: its roles, from and until, its revocation.
void RecordTest::trust_data()
{
    QTest::addColumn<QString>("grants"); // team file lines of the key
    QTest::addColumn<QString>("roles"); // asked for, joined by "|"
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("refusal"); // a part of it; empty: may sign

    QTest::newRow("its role") << "role operator"
                              << "operator"
                              << "2026-12-07"
                              << "";
    QTest::newRow("another role") << "role operator"
                                  << "reviewer|approver"
                                  << "2026-12-07"
                                  << "not trusted as reviewer or approver";
    QTest::newRow("one of the roles asked") << "role approver"
                                            << "reviewer|approver"
                                            << "2026-12-07"
                                            << "";
    QTest::newRow("before from") << "role operator from 2026-12-08"
                                 << "operator"
                                 << "2026-12-07T23:59:59Z"
                                 << "only from 2026-12-08 until -";
    QTest::newRow("at until") << "role operator until 2026-12-07T12:00:00Z"
                              << "operator"
                              << "2026-12-07T12:00:00Z"
                              << "only from - until";
    QTest::newRow("within") << "role operator from 2026-12-01 until 2027-01-01"
                            << "operator"
                            << "2026-12-07T12:00:00Z"
                            << "";
    QTest::newRow("revoked, a line of the same second after it")
        << "role operator\n  revoked 2026-12-07T12:00:00.500Z"
        << "operator"
        << "2026-12-07T12:00:00.700Z"
        << "revoked from 2026-12-07T12:00:00.500Z";
    QTest::newRow("revoked, a line before it holds")
        << "role operator\n  revoked 2026-12-07T12:00:00.500Z"
        << "operator"
        << "2026-12-07T12:00:00.300Z"
        << "";
}

void RecordTest::trust()
{
    QFETCH(QString, grants);
    QFETCH(QString, roles);
    QFETCH(QString, time);
    QFETCH(QString, refusal);

    const QByteArray &key = stationKey(0).publicKey();
    const QByteArray team = "key " + Signature::fingerprint(key) + " Ana\n  ed25519 "
        + key.toBase64() + "\n  " + grants.toUtf8() + '\n';
    QString error;
    const std::optional<Trust::Team> parsed = Trust::parseTeam(team, &error);
    QVERIFY2(parsed, qPrintable(error));
    QList<Trust::Role> asked;
    for (const QString &role : roles.split(QLatin1Char('|')))
        asked.append(*Trust::parseRole(role));
    const QString found = parsed->keys.first().refusal(asked, *Trust::parseTime(time));
    QVERIFY2(refusal.isEmpty() ? found.isEmpty() : found.contains(refusal), qPrintable(found));
}

// A team file reads back as written, and a person's name is the one their key signed.
void RecordTest::teamFile()
{
    const SigningKey &key = stationKey(1);
    Trust::Team team;
    team.keys.append(
        {key.fingerprint(),
         key.publicKey(),
         QStringLiteral("Zoë Lima"),
         key.sign(Trust::nameMessage(key.publicKey(), QStringLiteral("Zoë Lima"))),
         false,
         {{Trust::Role::Reviewer, *Trust::parseTime(QStringLiteral("2026-12-01")), Trust::kNever}},
         *Trust::parseTime(QStringLiteral("2026-12-20T08:00:00.250Z"))});
    QString error;
    const std::optional<Trust::Team> read = Trust::parseTeam(team.text(), &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(read->text(), team.text());
    QCOMPARE(read->keys.first().revoked, team.keys.first().revoked);
    // Another name under the same signature is refused, in a team file as in a key file.
    QByteArray forged = team.text();
    forged.replace("Zoë Lima", "Eve Lima");
    QVERIFY(!Trust::parseTeam(forged, &error));
    QVERIFY2(error.contains(QLatin1String("not signed by that key")), qPrintable(error));
    QVERIFY(!Trust::parseTime(QStringLiteral("2026-12-07T08:00:00")));
}

QTEST_GUILESS_MAIN(RecordTest)
#include "tst_record.moc"
