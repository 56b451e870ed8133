#include "station/session.h"

#include "station/terminaltext.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace {

// Names in the summary and keys of its JSON object, in the order of Session::Outcome.
const char *const kNames[] = {"verified", "written", "mismatched", "failed", "refused"};

// A device identifier is cut at this many bytes by the link; a longer line is no identifier.
constexpr int kLongestIdentifier = 64;
static_assert(kLongestIdentifier <= 1 << ExpectedList::kLengthBits);

} // namespace

QString counted(int n, const char *what)
{
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(what),
                                                QLatin1String(n == 1 ? "" : "s"));
}

Session::Outcome Session::outcome(const QString &recordOutcome)
{
    if (recordOutcome == QLatin1String("verified"))
        return Verified;
    if (recordOutcome == QLatin1String("written"))
        return Written;
    if (recordOutcome == QLatin1String("mismatch"))
        return Mismatched;
    if (recordOutcome == QLatin1String("refused"))
        return Refused;
    return Failed;
}

QLatin1String Session::name(Outcome outcome)
{
    return QLatin1String(kNames[outcome]);
}

std::optional<ExpectedList> ExpectedList::parse(const QByteArray &text, QString *error)
{
    ExpectedList list;
    if (text.size() > kLargestList) {
        *error = QStringLiteral("a list of identifiers is at most %1 MB").arg(kLargestList >> 20);
        return std::nullopt;
    }
    list.m_text = text;
    const char *const data = text.constData();
    const int size = text.size();
    // Slots for one identifier a line at the most; lines are counted by their ends.
    int lines = 1;
    for (const char *p = data;
         (p = static_cast<const char *>(std::memchr(p, '\n', size_t(data + size - p)))); ++p)
        ++lines;
    // At most four fifths of the slots taken: a probe past a taken slot reads on in the same
    // few cache lines, and stops at the first hash that differs.
    int slotCount = 16;
    while (slotCount < lines + lines / 4)
        slotCount *= 2;
    list.m_slots.fill({}, slotCount);
    list.m_pieces.reserve(lines);
    const auto space
        = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
    int line = 0;
    for (int start = text.startsWith("\xef\xbb\xbf") ? 3 : 0; start < size; ++line) {
        int end = text.indexOf('\n', start);
        if (end < 0)
            end = size;
        const int next = end + 1;
        // A comment starts at a "#" at the start of the line or after a space.
        for (int i = start; i < end; ++i)
            if (data[i] == '#' && (i == start || space(data[i - 1]))) {
                end = i;
                break;
            }
        while (start < end && space(data[start]))
            ++start;
        while (end > start && space(data[end - 1]))
            --end;
        if (end - start > kLongestIdentifier) {
            *error = QStringLiteral("line %1 is longer than a device identifier").arg(line + 1);
            return std::nullopt;
        }
        if (end > start)
            list.insert(start, end - start);
        start = next;
    }
    if (list.isEmpty()) {
        *error = QStringLiteral("lists no device identifier");
        return std::nullopt;
    }
    return list;
}

QString ExpectedList::at(int i) const
{
    const quint32 piece = m_pieces.at(i);
    return QString::fromUtf8(m_text.constData() + start(piece), length(piece));
}

uint ExpectedList::hash(const char *identifier, int length)
{
    // Qt's hash of short texts that differ in one digit differs in few low bits: mixed, so that
    // the slots of a numbered list spread.
    uint hash = qHashBits(identifier, size_t(length));
    hash ^= hash >> 16;
    hash *= 0x45d9f3bu;
    hash ^= hash >> 16;
    return hash;
}

int ExpectedList::slot(const char *identifier, int length, uint hash) const
{
    const int mask = m_slots.size() - 1;
    for (int slot = int(hash & uint(mask));; slot = (slot + 1) & mask) {
        const Slot &taken = m_slots.at(slot);
        if (taken.place == 0)
            return slot;
        // The identifiers themselves are compared only where the hashes agree: most probes
        // then touch nothing but the table.
        if (taken.hash != hash)
            continue;
        const quint32 piece = m_pieces.at(taken.place - 1);
        if (ExpectedList::length(piece) == length
            && std::memcmp(m_text.constData() + start(piece), identifier, size_t(length)) == 0)
            return slot;
    }
}

int ExpectedList::find(const char *identifier, int length) const
{
    return m_slots.isEmpty()
        ? -1
        : m_slots.at(slot(identifier, length, hash(identifier, length))).place - 1;
}

void ExpectedList::insert(int start, int length)
{
    const char *const identifier = m_text.constData() + start;
    const uint h = hash(identifier, length);
    Slot &free = m_slots[slot(identifier, length, h)];
    if (free.place != 0)
        return; // listed before
    m_pieces.append(quint32(start) << kLengthBits | quint32(length - 1));
    free = {h, m_pieces.size()};
}

int ExpectedList::nearMiss(const QString &identifier) const
{
    const QString trimmed = identifier.trimmed();
    for (int i = 0; i < size(); ++i) {
        const QString listed = at(i);
        if (listed.compare(trimmed, Qt::CaseInsensitive) == 0 && listed != identifier)
            return i;
    }
    return -1;
}

QString ExpectedList::difference(const QString &identifier, const QString &listed)
{
    const QString trimmed = identifier.trimmed();
    if (trimmed == identifier)
        return QStringLiteral("case");
    return trimmed == listed ? QStringLiteral("surrounding spaces")
                             : QStringLiteral("case and surrounding spaces");
}

QStringList ExpectedList::toStringList() const
{
    QStringList list;
    list.reserve(size());
    for (int i = 0; i < size(); ++i)
        list.append(at(i));
    return list;
}

void Session::expect(const ExpectedList &expected)
{
    m_expected = expected;
    m_seen.fill(Unseen, expected.size());
    m_expectedVerified = m_expectedSeen = 0;
}

void Session::add(const QString &logger, Outcome outcome, bool identified)
{
    m_outcomes.insert(logger, outcome);
    if (!identified)
        m_unidentified.insert(logger);
    const int place = expecting() ? m_expected.indexOf(logger) : -1;
    if (place < 0) {
        const int nearly = outcome == Refused ? m_expected.nearMiss(logger) : -1;
        if (nearly >= 0)
            m_nearMisses.insert(nearly, logger);
        return;
    }
    char &seen = m_seen[place];
    m_expectedSeen += seen == Unseen;
    m_expectedVerified += int(outcome == Verified) - int(seen == SeenVerified);
    seen = outcome == Verified ? SeenVerified : SeenNotVerified;
}

void Session::forget(const QString &logger)
{
    m_outcomes.remove(logger);
    m_unidentified.remove(logger);
    m_unrecorded.remove(logger);
}

void Session::setRecorded(const QString &logger, bool recorded)
{
    if (recorded)
        m_unrecorded.remove(logger);
    else
        m_unrecorded.insert(logger);
}

QVector<int> Session::expected(Seen below, int most) const
{
    QVector<int> places;
    for (int i = 0; i < m_seen.size() && (most < 0 || places.size() < most); ++i)
        if (m_seen[i] < below)
            places.append(i);
    return places;
}

QStringList Session::names(const QVector<int> &places) const
{
    QStringList list;
    list.reserve(places.size());
    for (const int place : places)
        list.append(m_expected.at(place));
    return list;
}

QStringList Session::missing(int most) const
{
    return names(expected(SeenVerified, most));
}

QStringList Session::neverSeen(int most) const
{
    return names(expected(SeenNotVerified, most));
}

bool Session::anyUndone() const
{
    return !m_unrecorded.isEmpty()
        || std::any_of(m_outcomes.cbegin(), m_outcomes.cend(),
                       [](Outcome outcome) { return outcome != Verified && outcome != Written; });
}

QStringList Session::loggers(Outcome outcome) const
{
    QStringList list;
    for (auto it = m_outcomes.cbegin(); it != m_outcomes.cend(); ++it)
        if (it.value() == outcome)
            list.append(it.key());
    list.sort();
    return list;
}

QString Session::text(int most) const
{
    QStringList counts;
    // A label and the loggers it names, a line each under the counts.
    QList<QPair<QString, QString>> lines;
    const auto line = [&lines, most](const QString &label, const QStringList &loggers, int count) {
        if (loggers.isEmpty())
            return;
        QString named = terminalText(loggers.mid(0, most).join(QLatin1String(", ")));
        if (count > most)
            named += QStringLiteral(" and %1 more").arg(count - most);
        lines.append({label, named});
    };
    for (int outcome = Verified; outcome <= Refused; ++outcome) {
        const QStringList list = loggers(Outcome(outcome));
        if (outcome != Written || !list.isEmpty())
            counts.append(QStringLiteral("%1 %2").arg(list.size()).arg(name(Outcome(outcome))));
        line(name(Outcome(outcome)), list, list.size());
    }
    if (expecting()) {
        // A logger that never identified itself may be one of the list: its identifier is then
        // not known to have been unseen.
        const QString label = m_unidentified.isEmpty() ? QStringLiteral("never seen")
                                                       : QStringLiteral("not identified");
        counts.append(QStringLiteral("%1 %2").arg(neverSeenCount()).arg(label));
        QStringList unseen;
        for (const int place : expected(SeenNotVerified, most)) {
            const QString listed = m_expected.at(place);
            const QString nearly = m_nearMisses.value(place);
            unseen.append(nearly.isEmpty()
                              ? listed
                              : QStringLiteral("%1 (%2 was refused: it differs only in %3)")
                                    .arg(listed, nearly, ExpectedList::difference(nearly, listed)));
        }
        line(label, unseen, neverSeenCount());
    }
    if (!m_unrecorded.isEmpty()) {
        QStringList list(m_unrecorded.cbegin(), m_unrecorded.cend());
        list.sort();
        counts.append(QStringLiteral("%1 not recorded").arg(list.size()));
        line(QStringLiteral("not recorded"), list, list.size());
    }
    int width = 0;
    for (const auto &labelled : qAsConst(lines))
        width = qMax(width, labelled.first.size());
    QString text = counts.join(QLatin1String(", "));
    for (const auto &labelled : qAsConst(lines))
        text += QStringLiteral("\n  %1  %2")
                    .arg(labelled.first.leftJustified(width), labelled.second);
    return text;
}

QJsonObject Session::json() const
{
    QJsonObject summary;
    for (int outcome = Verified; outcome <= Refused; ++outcome)
        summary.insert(name(Outcome(outcome)),
                       QJsonArray::fromStringList(loggers(Outcome(outcome))));
    if (expecting())
        summary.insert(QStringLiteral("neverSeen"), QJsonArray::fromStringList(neverSeen()));
    QStringList unrecorded(m_unrecorded.cbegin(), m_unrecorded.cend());
    unrecorded.sort();
    summary.insert(QStringLiteral("notRecorded"), QJsonArray::fromStringList(unrecorded));
    return summary;
}
