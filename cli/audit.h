#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// The audit record: one JSON line per configuration write, appended to a file that is never
// truncated. Each line carries "prev", the SHA-256 of the previous line's bytes (its newline
// excluded) in hex, 64 zeros on the first line, and "seq", one more than the previous line's.
// Changing, removing, inserting or reordering a line therefore breaks the chain at the line
// after it, and anyone can check it again with sha256sum. Appends take a lock file beside the
// record, so that processes and computers sharing it keep the chain whole, and each line goes
// out in a single write to a file opened for appending.
namespace Audit {

/// audit.jsonl in the user's application data folder.
QString defaultPath();

/// True when the record at path can be kept: its folder exists (created, with createFolder),
/// the file opens for appending and its lock can be had. Checked before any logger is written,
/// so that no write goes unrecorded.
bool usable(const QString &path, bool createFolder, QString *error);

/// Stamps each record with the UTC time, the host name, the account's user and the operator
/// (the user when empty), chains it to the record's last line and appends it as one line, all
/// of them under one lock.
bool append(const QString &path, QList<QJsonObject> &records, const QString &operatorName,
            QString *error);

/// The line that follows previous (empty for a record's first line): record with "seq" and
/// "prev", as compact JSON without the newline.
QByteArray chainedLine(QJsonObject record, const QByteArray &previous);

/// The hash the line after this one carries as "prev".
QByteArray lineHash(const QByteArray &line);

/// What checking a record's chain found.
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
    /// The hash of the last line: noted elsewhere, it shows later whether lines were cut off
    /// the end.
    QByteArray lastHash;
};

/// Checks the chain of a record's bytes; lines, when given, receives every line that is a JSON
/// object.
Verification verify(const QByteArray &data, QList<QJsonObject> *lines = nullptr);

/// Reads and checks the record at path; nothing when it cannot be read.
std::optional<Verification> verifyFile(const QString &path, QString *error,
                                       QList<QJsonObject> *lines = nullptr);

} // namespace Audit
