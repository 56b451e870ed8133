#include "record/account.h"

#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

QString Account::userName()
{
    const passwd *entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString::number(::geteuid());
}

QString Account::hostName()
{
    return QSysInfo::machineHostName();
}
