#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <optional>

/// A shipment's list of device identifiers, as its file gives them: one a line, blank lines and
/// "#" comments (at the start of a line or after a space) allowed, the first of repeated ones
/// kept. Held as the file's own bytes, looked up by hash: a list of 100,000 costs little to read
/// and next to nothing per logger.
class ExpectedList
{
public:
    /// Nothing, and error, when a line is longer than an identifier or the list names none.
    static std::optional<ExpectedList> parse(const QByteArray &text, QString *error);

    int size() const { return m_pieces.size(); }
    bool isEmpty() const { return m_pieces.isEmpty(); }
    /// The identifier's place in the list, from 0; -1 when it is not listed.
    int indexOf(const QString &identifier) const
    {
        const QByteArray bytes = identifier.toUtf8();
        return find(bytes.constData(), bytes.size());
    }
    QString at(int i) const;
    QStringList toStringList() const;
    /// A listed identifier that differs from identifier only in letter case or in the spaces
    /// around it: its place, or -1. Matching stays exact; this tells a refused logger's near
    /// miss, and reads the whole list.
    int nearMiss(const QString &identifier) const;
    /// How identifier differs from listed, its near miss: "case", "surrounding spaces" or both.
    static QString difference(const QString &identifier, const QString &listed);

    /// A piece of the list's text: where an identifier starts, and its length less one in the
    /// low bits.
    static constexpr int kLengthBits = 6;
    /// The most bytes a list's text may hold: an identifier's place in it, in the bits a piece
    /// leaves to it (some millions of identifiers).
    static constexpr int kLargestList = 1 << (32 - kLengthBits);

private:
    static int start(quint32 piece) { return int(piece >> kLengthBits); }
    static int length(quint32 piece) { return int(piece & ((1u << kLengthBits) - 1)) + 1; }
    struct Slot
    {
        uint hash = 0;
        int place = 0; // in m_pieces, from 1; 0 for a free slot
    };
    static uint hash(const char *identifier, int length);
    /// The slot of identifier, or the free one where it goes.
    int slot(const char *identifier, int length, uint hash) const;
    int find(const char *identifier, int length) const;
    void insert(int start, int length);

    QByteArray m_text;
    QVector<quint32> m_pieces; // the identifiers, in the list's order
    // Open addressing, a power of two of slots.
    QVector<Slot> m_slots;
};

/// "1 logger", "2 loggers": a count and what it counts, in the plural where it takes one.
QString counted(int n, const char *what);

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

    void expect(const ExpectedList &expected);
    bool expecting() const { return !m_expected.isEmpty(); }
    bool isExpected(const QString &identifier) const { return m_expected.indexOf(identifier) >= 0; }
    /// True when every expected logger's last outcome is verified.
    bool allExpectedVerified() const { return m_expectedVerified == m_expected.size(); }

    /// logger's last outcome; identified is false for a logger named by its port. A logger
    /// refused as the near miss of a listed one is named beside it in the summary.
    void add(const QString &logger, Outcome outcome, bool identified = true);
    /// A logger named by its port that has since identified itself under another name.
    void forget(const QString &logger);
    /// Whether the audit line of the logger's last attempt is still owed to the record.
    void setRecorded(const QString &logger, bool recorded);

    /// The expected loggers not verified yet, and those never identified at all, in the list's
    /// order: at most most of them (all, when negative).
    QStringList missing(int most = -1) const;
    QStringList neverSeen(int most = -1) const;
    int missingCount() const { return m_expected.size() - m_expectedVerified; }
    int neverSeenCount() const { return m_expected.size() - m_expectedSeen; }
    /// True when something else than verified (or written), or an unrecorded attempt, came last
    /// for a logger.
    bool anyUndone() const;

    /// The counts with the loggers of each outcome (at most most of them a list, the rest
    /// counted), and with an expected list those never seen: for people; all of them in JSON.
    QString text(int most) const;
    QJsonObject json() const;

private:
    // What became of an expected logger.
    enum Seen : char { Unseen, SeenNotVerified, SeenVerified };
    QStringList loggers(Outcome outcome) const;
    QVector<int> expected(Seen below, int most) const;
    QStringList names(const QVector<int> &places) const;

    ExpectedList m_expected;
    QVector<char> m_seen; // by place in m_expected
    int m_expectedVerified = 0;
    int m_expectedSeen = 0;
    QHash<QString, Outcome> m_outcomes;
    QSet<QString> m_unidentified;
    QSet<QString> m_unrecorded;
    QHash<int, QString> m_nearMisses; // by place in m_expected: a logger refused, nearly it
};
