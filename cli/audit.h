#pragma once

#include "stationkey.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The audit record: one JSON line per configuration write, appended to a file that is never
// truncated. Each line carries "seq", one more than the previous line's, and "prev", the SHA-256
// of the previous line's bytes (its newline excluded) in hex, 64 zeros on the first line; a
// station with a key also signs each line (see stationkey.h). Changing, removing, inserting or
// reordering a line breaks the chain at the line after it; rewriting the chain after a change
// breaks the signatures; cutting lines off the end shows against a head noted elsewhere.
//
// Appends take a lock file beside the record, so that processes and computers sharing it keep
// the chain whole; each append is one write of whole lines, flushed to the disk. A line cut
// short by a crash stays as it is: no line is appended after it until "audit repair" has
// appended one that carries its bytes ("repair": {"line", "bytes", "sha256", "fragment"}) and
// chains on from the whole line before it.
namespace Audit {

/// audit.jsonl in the user's application data folder.
QString defaultPath();
/// station.key beside it.
QString defaultKeyPath();

/// A line pinned down: its "seq" and the SHA-256 of its bytes, written "SEQ:HASH". Noted
/// elsewhere (on paper, in a ticket), it shows later whether the record still holds that line
/// unchanged, and so every line before it.
struct Head
{
    int seq = 0;
    QByteArray hash; // hex; a head noted by hand may give only the first digits
    QString text() const;
    /// "SEQ:HASH" with at least kShortestHeadHash hex digits.
    static std::optional<Head> parse(const QString &text);
};
constexpr int kShortestHeadHash = 16;

/// Checks, before any logger is written, that the record at path can be kept: absent with its
/// folder there (made, with createFolder), or a regular file this account can append to whose
/// last line is whole; and that its lock can be had. cut tells a record whose last line was
/// cut short, which "audit repair" mends.
bool usable(const QString &path, bool createFolder, QString *error, bool *cut = nullptr);

/// Stamps a record with the UTC time now, the host, the account's user and the operator (the
/// user when empty), as the moment its attempt ended.
void stamp(QJsonObject &record, const QString &operatorName);

/// Chains the stamped records to the record's last line, signs them with key when there is
/// one, and appends them under one lock in one write flushed to the disk; head, when given,
/// becomes the last line's. A write that fails part way is taken back. Refused for a record
/// whose last line is cut short.
bool append(const QString &path, const QList<QJsonObject> &records, const StationKey *key,
            QString *error, Head *head = nullptr);

/// The head of the record at path: its last line's; seq 0 for an empty record or one whose
/// last line is not chained. Nothing when it cannot be read.
std::optional<Head> currentHead(const QString &path, QString *error);

/// audit repair: for a record whose last line is cut short, appends a stamped (and, with key,
/// signed) line that carries the cut line's bytes and chains on from the whole line before it.
/// repaired is false, with nothing changed, when the last line is whole.
bool repair(const QString &path, const StationKey *key, const QString &operatorName, bool *repaired,
            QString *error, Head *head = nullptr);

/// The line that follows previous (empty for a record's first line): record with "seq" and
/// "prev", as compact JSON without the newline, signed with key when given.
QByteArray chainedLine(QJsonObject record, const QByteArray &previous,
                       const StationKey *key = nullptr);

/// The lines of a record's bytes, each without its line end; the last one is cut short when
/// the bytes do not end in one. Views into data, which must outlive it.
class Lines
{
public:
    explicit Lines(const QByteArray &data);
    int size() const { return m_starts.size(); }
    QByteArray at(int index) const;
    bool cutAtEnd(int index) const { return index + 1 == size() && !m_data.endsWith('\n'); }

private:
    const QByteArray &m_data;
    QVector<int> m_starts;
};

/// The hash the line after this one carries as "prev".
QByteArray lineHash(const QByteArray &line);

/// What checking a record found.
struct Verification
{
    enum Result { Whole, Broken, Unchained };
    Result result = Whole;
    int lines = 0;
    /// Leading lines without "prev", written before the record was chained; only the last of
    /// them is covered by the chain.
    int unchained = 0;
    /// With Broken, the first line at fault (from 1) and what happened to it.
    int line = 0;
    QString problem;
    /// The last line's head (seq 0 when it is not chained).
    Head head;

    /// A run of lines that name the same signer (empty: unsigned).
    struct Signers
    {
        int first = 0;
        int last = 0;
        QByteArray signer;
        bool trusted = false;
    };
    QList<Signers> signers;
    /// True when the signatures were checked against trusted keys.
    bool trustChecked = false;
    /// The first line, and how many lines, whose signature does not match its trusted key.
    int badSignature = 0;
    int badSignatures = 0;

    /// A line cut short, carried by the repair line after it.
    struct Repair
    {
        int cutLine = 0;
        int repairLine = 0;
        int bytes = 0;
        QJsonObject by; // the repair line: its time, host, user and operator
    };
    QList<Repair> repairs;

    struct HeadCheck
    {
        Head head;
        bool held = false;
        QString problem;
    };
    QList<HeadCheck> heads;

    /// Every check holds: the chain (from the first chained line on), the heads and, when they
    /// were checked, the signatures of every line by a trusted key.
    bool passed() const;
};

/// What to check besides the chain.
struct Checks
{
    const Signature::TrustedKeys *trusted = nullptr;
    QList<Head> heads;
};

/// Checks a record's bytes.
Verification verify(const QByteArray &data, const Checks &checks = {});

/// Reads and checks the record at path; nothing when it cannot be read. data, when given,
/// receives the record's bytes.
std::optional<Verification> verifyFile(const QString &path, const Checks &checks, QString *error,
                                       QByteArray *data = nullptr);

} // namespace Audit
