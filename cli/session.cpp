#include "session.h"

#include <QJsonArray>
#include <QRegularExpression>

namespace {

// Names in the summary and keys of its JSON object, in the order of Session::Outcome.
const char *const kNames[] = {"verified", "written", "mismatched", "failed", "refused"};

// A device identifier is cut at this many bytes by the link; a longer line is no identifier.
constexpr int kLongestIdentifier = 64;

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
    const QStringList lines
        = QString::fromUtf8(text).remove(QChar(0xfeff)).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString identifier = QString(lines[i]).remove(comment).trimmed();
        if (identifier.isEmpty() || identifiers.contains(identifier))
            continue;
        if (identifier.toUtf8().size() > kLongestIdentifier) {
            *error = QStringLiteral("line %1 is longer than a device identifier").arg(i + 1);
            return std::nullopt;
        }
        identifiers.append(identifier);
    }
    if (identifiers.isEmpty()) {
        *error = QStringLiteral("lists no device identifier");
        return std::nullopt;
    }
    return identifiers;
}

void Session::add(const QString &logger, Outcome outcome)
{
    m_outcomes.insert(logger, outcome);
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
    for (const Outcome outcome : m_outcomes)
        if (outcome != Verified && outcome != Written)
            return true;
    return false;
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

QString Session::text() const
{
    QStringList counts;
    QString lines;
    const auto line = [&lines](const QString &name, const QStringList &loggers) {
        if (!loggers.isEmpty())
            lines += QStringLiteral("\n  %1%2")
                         .arg(name.leftJustified(12), loggers.join(QLatin1String(", ")));
    };
    for (int outcome = Verified; outcome <= Refused; ++outcome) {
        const QStringList list = loggers(Outcome(outcome));
        if (outcome != Written || !list.isEmpty())
            counts.append(QStringLiteral("%1 %2").arg(list.size()).arg(name(Outcome(outcome))));
        line(name(Outcome(outcome)), list);
    }
    if (expecting()) {
        counts.append(QStringLiteral("%1 never seen").arg(neverSeen().size()));
        line(QStringLiteral("never seen"), neverSeen());
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
    return summary;
}
