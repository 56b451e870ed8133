#pragma once

#include <QByteArray>
#include <QString>

class QFile;

// What the audit record and the station key need of the file system beyond what Qt offers.
namespace Files {

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

/// Who holds the lock on path, from the system's own lock table where it keeps one (a process
/// of this computer that locked it without writing its name into it): "process 1234
/// (flock)". Empty when the system does not tell.
QString lockHolder(const QString &path);

} // namespace Files
