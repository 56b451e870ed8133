#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class QFile;

// What the audit record and the station key need of the file system beyond what Qt offers.
namespace Files {

/// The bytes of path when it holds at most limit of them. A larger one is refused without being
/// read whole: a regular file by its size, before any byte is read, and a pipe or a device
/// (/dev/zero) after limit + 1 bytes. Nothing, with error, when it is larger ("larger than
/// 64 MB, " and limitText, which says what the limit is for) or cannot be read.
std::optional<QByteArray> readAtMost(const QString &path, qint64 limit, const QString &limitText,
                                     QString *error);

/// Creates path, which must not exist yet, with data, readable and writable by this account
/// only (mode 0600; on Windows a protected ACL that grants the current user alone). False, with
/// error, when it cannot; nothing is left behind then.
bool writeOwnerOnly(const QString &path, const QByteArray &data, QString *error);

/// True when no other account than its owner (and the administrators) can read path.
bool isOwnerOnly(const QString &path);

/// Flushes what was written to file through to the disk.
bool syncToDisk(QFile &file);

/// The identity of the open file (its device and inode, or on Windows its volume and file
/// index): another file at the same path has another one. Empty where the system gives none.
QByteArray identity(QFile &file);

/// True when standard output goes to a terminal, not to a file or a pipe.
bool standardOutputIsTerminal();

/// Who holds the lock on path, from the system's own lock table where it keeps one (a process
/// of this computer that locked it without writing its name into it): "process 1234
/// (flock)". Empty when the system does not tell.
QString lockHolder(const QString &path);

} // namespace Files
