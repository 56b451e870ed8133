#include "record/secret_p.h"

#include <cstdio>
#include <windows.h>

bool Passphrase::terminalThere()
{
    DWORD mode = 0;
    const HANDLE console = ::GetStdHandle(STD_INPUT_HANDLE);
    return console != INVALID_HANDLE_VALUE && ::GetConsoleMode(console, &mode);
}

std::optional<SecretBytes> Passphrase::readHiddenLine()
{
    const HANDLE console = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    ::GetConsoleMode(console, &saved);
    ::SetConsoleMode(
        console, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~DWORD(ENABLE_ECHO_INPUT));
    SecretBytes wide(int(sizeof(wchar_t)) * (kLongest + 2));
    auto *chars = reinterpret_cast<wchar_t *>(wide.data());
    DWORD read = 0;
    const bool ok = ::ReadConsoleW(console, chars, DWORD(kLongest + 2), &read, nullptr);
    ::SetConsoleMode(console, saved);
    std::fputs("\n", stderr);
    if (!ok)
        return std::nullopt;
    int length = 0;
    while (length < int(read) && chars[length] != L'\r' && chars[length] != L'\n')
        ++length;
    // As UTF-8, which a passphrase file holds too.
    SecretBytes line(kLongest * 3 + 1);
    const int size
        = ::WideCharToMultiByte(CP_UTF8, 0, chars, length, reinterpret_cast<char *>(line.data()),
                                line.capacity(), nullptr, nullptr);
    line.resize(size);
    return line;
}
