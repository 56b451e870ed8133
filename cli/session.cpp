#include "session.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>

namespace {

// Names in the summary and keys of its JSON object, in the order of Session::Outcome.
const char *const kNames[] = {"verified", "written", "mismatched", "failed", "refused"};

// A device identifier is cut at this many bytes by the link; a longer line is no identifier.
constexpr int kLongestIdentifier = 64;

// At most most of the names, and how many more there are.
QString someOf(const QStringList &names, int most)
{
    if (names.size() <= most)
        return names.join(QLatin1String(", "));
    return QStringList(names.mid(0, most)).join(QLatin1String(", "))
        + QStringLiteral(" and %1 more").arg(names.size() - most);
}

} // namespace

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

std::optional<QStringList> Session::parseExpected(const QByteArray &text, QString *error)
{
    // A comment starts at a "#" at the start of a line or after a space.
    static const QRegularExpression comment(QStringLiteral("(^|\\s)#.*$"));
    QStringList identifiers;
    QSet<QString> listed;
    const QStringList lines
        = QString::fromUtf8(text).remove(QChar(0xfeff)).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        QString identifier = lines[i];
        if (identifier.contains(QLatin1Char('#')))
            identifier.remove(comment);
        identifier = identifier.trimmed();
        if (identifier.isEmpty() || listed.contains(identifier))
            continue;
        if (identifier.toUtf8().size() > kLongestIdentifier) {
            *error = QStringLiteral("line %1 is longer than a device identifier").arg(i + 1);
            return std::nullopt;
        }
        listed.insert(identifier);
        identifiers.append(identifier);
    }
    if (identifiers.isEmpty()) {
        *error = QStringLiteral("lists no device identifier");
        return std::nullopt;
    }
    return identifiers;
}

void Session::expect(const QStringList &identifiers)
{
    m_expected = identifiers;
    m_expectedSet = QSet<QString>(identifiers.cbegin(), identifiers.cend());
    m_expectedVerified = 0;
    for (auto it = m_outcomes.cbegin(); it != m_outcomes.cend(); ++it)
        m_expectedVerified += it.value() == Verified && isExpected(it.key());
}

void Session::add(const QString &logger, Outcome outcome, bool identified)
{
    if (isExpected(logger))
        m_expectedVerified
            += int(outcome == Verified) - int(m_outcomes.value(logger, Failed) == Verified);
    m_outcomes.insert(logger, outcome);
    if (!identified)
        m_unidentified.insert(logger);
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

QStringList Session::missing() const
{
    QStringList list;
    for (const QString &identifier : m_expected)
        if (m_outcomes.value(identifier, Failed) != Verified)
            list.append(identifier);
    return list;
}

QStringList Session::neverSeen() const
{
    QStringList list;
    for (const QString &identifier : m_expected)
        if (!m_outcomes.contains(identifier))
            list.append(identifier);
    return list;
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
    QString lines;
    const auto line = [&lines, most](const QString &name, const QStringList &loggers) {
        if (!loggers.isEmpty())
            lines += QStringLiteral("\n  %1%2")
                         .arg((name + QLatin1Char(' ')).leftJustified(12), someOf(loggers, most));
    };
    for (int outcome = Verified; outcome <= Refused; ++outcome) {
        const QStringList list = loggers(Outcome(outcome));
        if (outcome != Written || !list.isEmpty())
            counts.append(QStringLiteral("%1 %2").arg(list.size()).arg(name(Outcome(outcome))));
        line(name(Outcome(outcome)), list);
    }
    if (expecting()) {
        // A logger that never identified itself may be one of the list: its identifier is then
        // not known to have been unseen.
        const QString label = m_unidentified.isEmpty() ? QStringLiteral("never seen")
                                                       : QStringLiteral("not identified");
        const QStringList unseen = neverSeen();
        counts.append(QStringLiteral("%1 %2").arg(unseen.size()).arg(label));
        line(label, unseen);
    }
    if (!m_unrecorded.isEmpty()) {
        QStringList list(m_unrecorded.cbegin(), m_unrecorded.cend());
        list.sort();
        counts.append(QStringLiteral("%1 not recorded").arg(list.size()));
        line(QStringLiteral("not recorded"), list);
    }
    return counts.join(QLatin1String(", ")) + lines;
}

QJsonObject Session::json() const
{
    QJsonObject summary;
    for (int outcome = Verified; outcome <= Refused; ++outcome)
        summary.insert(name(Outcome(outcome)),
                       QJsonArray::fromStringList(loggers(Outcome(outcome))));
    if (expecting())
        summary.insert(QStringLiteral("neverSeen"), QJsonArray::fromStringList(neverSeen()));
    if (!m_unrecorded.isEmpty()) {
        QStringList list(m_unrecorded.cbegin(), m_unrecorded.cend());
        list.sort();
        summary.insert(QStringLiteral("notRecorded"), QJsonArray::fromStringList(list));
    }
    return summary;
}
