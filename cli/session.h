#pragma once

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QStringList>

#include <optional>

/// What became of the loggers of one run of write or provision, for the summary at its end:
/// one final state per logger. A logger is known by its device identifier, or, when it never
/// gave one, by its port (and USB serial number); when it was plugged in more than once, its
/// last outcome counts.
class Session
{
public:
    /// The outcomes of the summary, in its order; an audit line's "outcome" maps onto them.
    enum Outcome { Verified, Written, Mismatched, Failed, Refused };
    static Outcome outcome(const QString &recordOutcome);
    /// Its name in the summary, its JSON object and the report: "verified", "mismatched", ...
    static QLatin1String name(Outcome outcome);

    /// The device identifiers of an expected-loggers list: one a line, blank lines and "#"
    /// comments allowed, the first of repeated ones kept; nothing, and error, when it lists none.
    static std::optional<QStringList> parseExpected(const QByteArray &text, QString *error);

    void expect(const QStringList &identifiers);
    bool expecting() const { return !m_expected.isEmpty(); }
    bool isExpected(const QString &identifier) const { return m_expectedSet.contains(identifier); }
    /// True when every expected logger's last outcome is verified.
    bool allExpectedVerified() const { return m_expectedVerified == m_expected.size(); }

    /// logger's last outcome; identified is false for a logger named by its port.
    void add(const QString &logger, Outcome outcome, bool identified = true);
    /// A logger named by its port that has since identified itself under another name.
    void forget(const QString &logger);
    /// Whether the audit line of the logger's last attempt is still owed to the record.
    void setRecorded(const QString &logger, bool recorded);

    /// The expected loggers not verified yet, and those never identified at all.
    QStringList missing() const;
    QStringList neverSeen() const;
    /// True when something else than verified (or written), or an unrecorded attempt, came last
    /// for a logger.
    bool anyUndone() const;

    /// The counts with the loggers of each outcome (at most most of them a list, the rest
    /// counted), and with an expected list those never seen: for people; all of them in JSON.
    QString text(int most) const;
    QJsonObject json() const;

private:
    QStringList loggers(Outcome outcome) const;

    QStringList m_expected;
    QSet<QString> m_expectedSet;
    int m_expectedVerified = 0;
    QHash<QString, Outcome> m_outcomes;
    QSet<QString> m_unidentified;
    QSet<QString> m_unrecorded;
};
