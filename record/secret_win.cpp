#include "record/secret.h"

#include <cstdio>
#include <windows.h>

namespace {

// One line from the console with its echo off, as UTF-8; nothing when it ends first.
std::optional<SecretBytes> readLine(HANDLE console)
{
    DWORD saved = 0;
    ::GetConsoleMode(console, &saved);
    ::SetConsoleMode(
        console, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~DWORD(ENABLE_ECHO_INPUT));
    SecretBytes wide(int(sizeof(wchar_t)) * (Passphrase::kLongest + 2));
    auto *chars = reinterpret_cast<wchar_t *>(wide.data());
    DWORD read = 0;
    const bool ok = ::ReadConsoleW(console, chars, DWORD(Passphrase::kLongest + 2), &read, nullptr);
    ::SetConsoleMode(console, saved);
    std::fputs("\n", stderr);
    if (!ok)
        return std::nullopt;
    int length = 0;
    while (length < int(read) && chars[length] != L'\r' && chars[length] != L'\n')
        ++length;
    SecretBytes line(Passphrase::kLongest * 3 + 1);
    const int size
        = ::WideCharToMultiByte(CP_UTF8, 0, chars, length, reinterpret_cast<char *>(line.data()),
                                line.capacity(), nullptr, nullptr);
    line.resize(size);
    return line;
}

} // namespace

std::optional<SecretBytes> Passphrase::ask(const QString &prompt, bool confirm, QString *error)
{
    const HANDLE console = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !::GetConsoleMode(console, &mode)) {
        *error = QStringLiteral("no console to ask the passphrase on; give it with "
                                "--passphrase-file FILE");
        return std::nullopt;
    }
    std::fprintf(stderr, "%s: ", qPrintable(prompt));
    std::fflush(stderr);
    std::optional<SecretBytes> first = readLine(console);
    if (!first || first->size() == 0 || first->size() > kLongest) {
        *error = !first || first->size() == 0
            ? QStringLiteral("no passphrase given")
            : QStringLiteral("a passphrase is at most %1 bytes").arg(kLongest);
        return std::nullopt;
    }
    if (!confirm)
        return first;
    std::fprintf(stderr, "%s again: ", qPrintable(prompt));
    std::fflush(stderr);
    const std::optional<SecretBytes> second = readLine(console);
    if (!second || !(*first == *second)) {
        *error = QStringLiteral("the two passphrases differ");
        return std::nullopt;
    }
    return first;
}
