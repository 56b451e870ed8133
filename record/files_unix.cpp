#include "record/files.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

bool Files::writeOwnerOnly(const QString &path, const QByteArray &data, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QStringLiteral("cannot create %1: %2")
                     .arg(QDir::toNativeSeparators(path),
                          QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const int cause = errno;
    const bool ok = done == data.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) {
        ::unlink(name.constData());
        *error = QStringLiteral("cannot write %1: %2")
                     .arg(QDir::toNativeSeparators(path),
                          QString::fromLocal8Bit(std::strerror(cause)));
    }
    return ok;
}

bool Files::isOwnerOnly(const QString &path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && (info.st_mode & 077) == 0;
}

bool Files::syncToDisk(QFile &file)
{
    return ::fsync(file.handle()) == 0;
}

QByteArray Files::identity(QFile &file)
{
    struct stat info
    {
    };
    if (::fstat(file.handle(), &info) != 0)
        return {};
    return QByteArray::number(quint64(info.st_dev)) + ':'
        + QByteArray::number(quint64(info.st_ino));
}

bool Files::standardOutputIsTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

QString Files::lockHolder(const QString &path)
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    // Linux lists every lock: "1: FLOCK  ADVISORY  WRITE 1234 08:01:5678 0 EOF", the device's
    // major and minor number in hex and the inode in decimal.
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    const QString node = QStringLiteral("%1:%2:%3")
                             .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(info.st_ino);
    QTextStream stream(&locks);
    for (QString line; stream.readLineInto(&line);) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        // A lock another one waits for is listed with "->" before its fields.
        if (fields.size() < 6 || fields.value(1) == QLatin1String("->") || fields[5] != node)
            continue;
        const QString pid = fields[4];
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QString program = comm.open(QIODevice::ReadOnly)
            ? QString::fromLocal8Bit(comm.readAll().trimmed())
            : QString();
        return QStringLiteral("process %1%2 (%3 lock)")
            .arg(pid, program.isEmpty() ? QString() : QStringLiteral(", ") + program,
                 fields[1].toLower());
    }
    return {};
}
