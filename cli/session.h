#pragma once

#include <QHash>
#include <QJsonObject>
#include <QStringList>

#include <optional>

/// What became of the loggers of one run of write or provision, for the summary at its end.
/// A logger is known by its device identifier, or by its port when it gave none; when it was
/// plugged in more than once, its last outcome counts.
class Session
{
public:
    /// The outcomes of the summary, in its order; an audit line's "outcome" maps onto them.
    enum Outcome { Verified, Written, Mismatched, Failed, Refused };
    static Outcome outcome(const QString &recordOutcome);
    /// Its name in the summary, its JSON object and the report: "verified", "mismatched", ...
    static QLatin1String name(Outcome outcome);

    /// The device identifiers of an expected-loggers list: one a line, blank lines and "#"
    /// comments allowed; nothing, and error, when it lists none.
    static std::optional<QStringList> parseExpected(const QByteArray &text, QString *error);

    void expect(const QStringList &identifiers) { m_expected = identifiers; }
    bool expecting() const { return !m_expected.isEmpty(); }
    bool isExpected(const QString &identifier) const { return m_expected.contains(identifier); }

    void add(const QString &logger, Outcome outcome);
    /// The expected loggers not verified yet, and those never seen at all.
    QStringList missing() const;
    QStringList neverSeen() const;
    /// True when something else than verified (or written) came last for a logger.
    bool anyUndone() const;

    /// The counts with the loggers of each outcome, and with an expected list those never
    /// seen: for people, and as one JSON object.
    QString text() const;
    QJsonObject json() const;

private:
    QStringList loggers(Outcome outcome) const;

    QStringList m_expected;
    QHash<QString, Outcome> m_outcomes;
};
