#pragma once

#include "record/stationkey.h"
#include "record/trust.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVector>

#include <limits>
#include <optional>

// The audit record: one JSON line per configuration write, appended to a file that is never
// truncated. Each line carries "seq", one more than the previous line's, and "prev", the SHA-256
// of the previous line's bytes (its line end excluded) in hex, 64 zeros on the first line; a
// station with a key also signs each line (see stationkey.h). Changing, removing, inserting or
// reordering a line breaks the chain at the line after it; rewriting the chain after a change
// breaks the signatures; cutting lines off the end shows against a head noted elsewhere.
//
// A line ends in LF, or in CR LF where the record went through a copy with Windows line ends;
// the CR is no part of the line. Blank lines belong to no line and are passed over. A line that
// is not a JSON object was cut short (a write interrupted by a crash or a full disk) or garbled
// afterwards: no line is appended after such a line until "audit repair" has appended one that
// carries its bytes ("repair": {"line", "bytes", "sha256", "fragment"}), chained on from the last
// line that can be read. A last line that is whole but for its newline gets the newline with the
// next append.
//
// Appends take a lock file beside the record, so that processes and computers sharing it keep
// the chain whole; each append is one write of whole lines, flushed to the disk.
namespace Audit {

/// audit.jsonl in the station's folder: tempyra-cli's application data folder, which the
/// station window shares.
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

/// The record's end as a writer last saw or left it: its last line, and the file. An append
/// that is given it finds that line still in the record, last or followed by lines chained
/// after it (by other stations), in the same file; otherwise the record was changed under the
/// writer and nothing is appended.
struct Mark
{
    bool lines = false; // false: the record held no line, or was not there
    Head last; // its last line
    QByteArray file; // the file's identity; empty where the system gives none
};

/// What checking a record before the first append found.
struct Usable
{
    Mark mark;
    /// The last line is whole but has no newline: the first append completes it.
    bool newlineMissing = false;
};

/// Checks, before any logger is written, that the record at path can be kept: absent with its
/// folder there (made, with createFolder), or a regular file this account can append to in which
/// every line can be read or is carried by a repair line; and that its lock can be had. cut
/// tells a record that "audit repair" mends.
std::optional<Usable> usable(const QString &path, bool createFolder, QString *error,
                             bool *cut = nullptr);

/// Stamps a record with the UTC time now, the host, the account's user and the operator (the
/// user when empty), as the moment its attempt ended.
void stamp(QJsonObject &record, const QString &operatorName);

enum class Appended { Yes, Failed, Changed };

/// A line to append: its record, stamped, and the key that signs it (none: unsigned). A
/// "covers" of null in its "signOut" or "signOff" becomes the head of the line before it.
struct Entry
{
    QJsonObject record;
    const SigningKey *key = nullptr;
};

/// Chains the entries to the record's last line, each signed with its key, and appends them
/// under one lock in one write flushed to the disk; a write that fails part way is taken back.
/// With mark, the record must still hold the line it names (Changed, and nothing appended, when
/// it does not), and mark then names the new last line. Failed for a record whose last line
/// cannot be read. head, when given, becomes the new last line's.
Appended append(const QString &path, const QList<Entry> &entries, QString *error,
                Head *head = nullptr, Mark *mark = nullptr);
/// The same, every record signed with key.
Appended append(const QString &path, const QList<QJsonObject> &records, const SigningKey *key,
                QString *error, Head *head = nullptr, Mark *mark = nullptr);

/// The head of the record at path: its last line's; seq 0 for an empty record or one whose
/// last line is not chained. Nothing when it cannot be read.
std::optional<Head> currentHead(const QString &path, QString *error);

/// What audit repair did.
struct Repaired
{
    QList<int> lines; // the lines carried, by number
    bool newline = false; // the last line's newline was put back
    Head head;
};

/// audit repair: appends a stamped (and, with key, signed) line for each line that cannot be
/// read and is not carried yet, carrying its bytes, chained on from the last line that can be
/// read; a last line without its newline gets it. Nothing when the record cannot be read or
/// written.
std::optional<Repaired> repair(const QString &path, const SigningKey *key,
                               const QString &operatorName, QString *error);

/// The line that follows previous (empty for a record's first line): record with "seq" and
/// "prev", as compact JSON without the newline, signed with key when given.
QByteArray chainedLine(QJsonObject record, const QByteArray &previous,
                       const SigningKey *key = nullptr);

/// Lines owed to a record that could not take them, kept in a file of their own: chained and
/// signed as a record is, from seq 1, each naming the record it was owed to ("owedTo").
struct Owed
{
    QByteArray lines; // the file's bytes
    QString path; // where they were kept; empty when no file could be written
    QString error; // why not, then
};

/// Keeps records owed to the record at recordPath in a new file beside it, or where that cannot
/// be written, in the user's application data folder.
Owed keepOwed(const QString &recordPath, const QList<Entry> &entries);

/// audit append-owed: appends the lines of an owed file to the record, each chained and signed
/// anew with its content and time kept and "late" saying when, by whom and from where it came.
/// The owed file must be whole, and each of its lines signed by key or a trusted key, or
/// unsigned; lines the record holds already are passed over. Nothing, with error, when the file
/// or the record cannot be used; found, when given, tells whether the refusal lies in the file.
struct AppendedOwed
{
    int appended = 0;
    int already = 0; // lines the record held from an earlier append-owed
    Head head;
};
std::optional<AppendedOwed> appendOwed(const QString &recordPath, const QString &owedPath,
                                       const SigningKey *key, const Trust::Keys &trusted,
                                       const QString &operatorName, QString *error);

/// The lines of a record's bytes, each without its line end (LF or CR LF); the last one lacks
/// its newline when the bytes do not end in one. Views into data, which must outlive it.
class Lines
{
public:
    explicit Lines(const QByteArray &data);
    int size() const { return m_starts.size(); }
    QByteArray at(int index) const;
    /// The line ended in CR LF.
    bool endsInCr(int index) const;
    bool lastWithoutNewline(int index) const
    {
        return index + 1 == size() && !m_data.endsWith('\n');
    }

private:
    int end(int index) const;

    const QByteArray &m_data;
    QVector<int> m_starts;
};

/// True for a line of spaces and tabs only, which belongs to no line of the record.
bool isBlank(const QByteArray &line);

/// The hash the line after this one carries as "prev".
QByteArray lineHash(const QByteArray &line);

/// Reads a record whole; nothing, with error, when it cannot be read or is larger than a record
/// may be.
std::optional<QByteArray> readRecord(const QString &path, QString *error);

/// The device a line names, read from its bytes where they are not JSON (a line cut short):
/// empty when none can be read.
QString deviceInFragment(const QByteArray &bytes);

/// "UTC+05:30", as loggers' zones are written, "UTC" for none: an offset from UTC.
QString zoneText(int offsetSecs);
/// The offset of such a text, in seconds; 0 for one it cannot read.
int zoneOffset(const QString &zone);

constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();
/// A line's "time" ("2026-12-06T23:00:01.922Z", as stations write it) in milliseconds since 1970
/// UTC; kNoTime when it is no time.
qint64 lineTime(const QString &text);

} // namespace Audit
