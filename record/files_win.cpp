#include "record/files.h"

#include <QDir>
#include <QFile>

#include <io.h>
#include <windows.h>

#include <cstdio>

#include <aclapi.h>
#include <sddl.h>

#include <memory>

namespace {

QString systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                         | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QString::number(code);
    ::LocalFree(text);
    return message;
}

// The current user's SID as text ("S-1-5-21-..."), empty when the token does not tell.
QString userSid()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<char[]> buffer(new char[size]);
    QString sid;
    wchar_t *text = nullptr;
    if (::GetTokenInformation(token, TokenUser, buffer.get(), size, &size)
        && ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.get())->User.Sid,
                                    &text)) {
        sid = QString::fromWCharArray(text);
        ::LocalFree(text);
    }
    ::CloseHandle(token);
    return sid;
}

} // namespace

bool Files::writeOwnerOnly(const QString &path, const QByteArray &data, QString *error)
{
    // A protected DACL (no inherited entries) with one entry: full access for this user.
    const QString sid = userSid();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring sddl = QStringLiteral("D:P(A;;FA;;;%1)").arg(sid).toStdWString();
    if (sid.isEmpty()
        || !::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                   &descriptor, nullptr)) {
        *error = QStringLiteral("cannot make %1 private to this account: %2")
                     .arg(QDir::toNativeSeparators(path), systemMessage(::GetLastError()));
        return false;
    }
    SECURITY_ATTRIBUTES attributes {sizeof attributes, descriptor, FALSE};
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    const HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ::LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("cannot create %1: %2")
                     .arg(QDir::toNativeSeparators(path), systemMessage(::GetLastError()));
        return false;
    }
    DWORD written = 0;
    const bool ok = ::WriteFile(file, data.constData(), DWORD(data.size()), &written, nullptr)
        && written == DWORD(data.size()) && ::FlushFileBuffers(file);
    const DWORD cause = ::GetLastError();
    ::CloseHandle(file);
    if (!ok) {
        ::DeleteFileW(name.c_str());
        *error = QStringLiteral("cannot write %1: %2")
                     .arg(QDir::toNativeSeparators(path), systemMessage(cause));
    }
    return ok;
}

bool Files::isOwnerOnly(const QString &)
{
    // The key is made with an ACL for its owner alone; what an administrator changes later is
    // not second-guessed here.
    return true;
}

bool Files::syncToDisk(QFile &file)
{
    return ::FlushFileBuffers(reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle())));
}

QByteArray Files::identity(QFile &file)
{
    BY_HANDLE_FILE_INFORMATION info {};
    // Some network file systems give no file index: no identity then, rather than a false one.
    if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle())),
                                      &info)
        || (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0))
        return {};
    return QByteArray::number(quint64(info.dwVolumeSerialNumber)) + ':'
        + QByteArray::number((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

bool Files::standardOutputIsTerminal()
{
    return ::_isatty(::_fileno(stdout)) != 0;
}

QString Files::lockHolder(const QString &)
{
    return {};
}
