#include "record/account.h"

#include <windows.h>

#include <lmcons.h>

QString Account::userName()
{
    // The account's own name: USERNAME can be set to anything by whoever starts the program.
    wchar_t name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    if (::GetUserNameW(name, &size))
        return QString::fromWCharArray(name, int(size) - 1);
    return qEnvironmentVariable("USERNAME");
}

QString Account::hostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 256];
    DWORD size = sizeof name / sizeof *name;
    if (::GetComputerNameExW(ComputerNameDnsHostname, name, &size))
        return QString::fromWCharArray(name, int(size));
    return qEnvironmentVariable("COMPUTERNAME");
}
