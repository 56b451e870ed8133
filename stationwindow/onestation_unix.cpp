#include "stationwindow/onestation.h"

#include "record/account.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// A lock on a file in a folder every account shares (/run/lock, as the serial ports' own lock
// files), which the kernel lets go when the process ends however it ends. The file holds who
// took it.
struct OneStation::Handle
{
    int fd = -1;
};

namespace {

QString lockPath()
{
    const QString shared = QStringLiteral("/run/lock");
    const QString folder = QFileInfo(shared).isWritable() ? shared : QDir::tempPath();
    return folder + QStringLiteral("/tempyra-station.lock");
}

} // namespace

OneStation::OneStation() = default;

OneStation::~OneStation()
{
    if (m_handle) {
        ::close(m_handle->fd);
        delete m_handle;
    }
}

bool OneStation::claim(QString *holder)
{
    const QByteArray path = QFile::encodeName(lockPath());
    // Opened without O_CREAT first: in a sticky folder, a file of another account refuses an
    // open that may create it.
    int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            ::fchmod(fd, 0666); // whatever the umask: the next account writes its name too
    }
    if (fd < 0)
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *holder = QStringLiteral("cannot open %1: %2")
                      .arg(QFile::decodeName(path), QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char text[256] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        *holder
            = n > 0 ? QString::fromUtf8(text, int(n)).trimmed() : QStringLiteral("another process");
        ::close(fd);
        return false;
    }
    const QByteArray who = QStringLiteral("process %1 of %2, since %3\n")
                               .arg(::getpid())
                               .arg(Account::userName(),
                                    QLocale::c().toString(QDateTime::currentDateTime(),
                                                          QStringLiteral("yyyy-MM-dd HH:mm")))
                               .toUtf8();
    // Held all the same where the name cannot be written: the next one is told "another process".
    if (::ftruncate(fd, 0) == 0)
        (void)!::pwrite(fd, who.constData(), size_t(who.size()), 0);
    m_handle = new Handle {fd};
    return true;
}
