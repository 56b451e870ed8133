#include "stationwindow/onestation.h"

#include "record/account.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <windows.h>

// A mutex in the Global\ namespace: one for every session of the computer, let go by Windows
// when the process ends however it ends. A mutex carries no name of its holder: that goes into
// a file under ProgramData, which every account may read.
struct OneStation::Handle
{
    HANDLE mutex = nullptr;
};

namespace {

QString holderPath()
{
    const QString data = qEnvironmentVariable("ProgramData", QStringLiteral("C:/ProgramData"));
    QDir().mkpath(data + QStringLiteral("/Tempyra"));
    return data + QStringLiteral("/Tempyra/tempyra-station.holder");
}

} // namespace

OneStation::OneStation() = default;

OneStation::~OneStation()
{
    if (m_handle) {
        CloseHandle(m_handle->mutex);
        delete m_handle;
    }
}

bool OneStation::claim(QString *holder)
{
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\TempyraStation");
    if (!mutex) {
        *holder = QStringLiteral("another account's station (error %1)").arg(GetLastError());
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        QFile file(holderPath());
        const QString who = file.open(QIODevice::ReadOnly)
            ? QString::fromUtf8(file.read(256)).trimmed()
            : QString();
        *holder = who.isEmpty() ? QStringLiteral("another process") : who;
        return false;
    }
    m_handle = new Handle {mutex};
    QFile file(holderPath());
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(QStringLiteral("process %1 of %2, since %3\n")
                       .arg(GetCurrentProcessId())
                       .arg(Account::userName(),
                            QLocale::c().toString(QDateTime::currentDateTime(),
                                                  QStringLiteral("yyyy-MM-dd HH:mm")))
                       .toUtf8());
    return true;
}
