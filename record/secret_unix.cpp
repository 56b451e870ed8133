#include "record/secret.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace {

// One line from the terminal with its echo off; nothing when it ends first.
std::optional<SecretBytes> readLine(int fd)
{
    termios saved {};
    tcgetattr(fd, &saved);
    termios quiet = saved;
    quiet.c_lflag &= tcflag_t(~ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(fd, TCSAFLUSH, &quiet);
    SecretBytes line(Passphrase::kLongest + 1);
    int size = 0;
    bool ended = false;
    for (unsigned char c; !ended;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n' || c == '\r')
            ended = true;
        else if (size < line.capacity())
            line.data()[size++] = c;
    }
    tcsetattr(fd, TCSAFLUSH, &saved);
    line.resize(size);
    if (!ended)
        return std::nullopt;
    return line;
}

} // namespace

std::optional<SecretBytes> Passphrase::ask(const QString &prompt, bool confirm, QString *error)
{
    if (!::isatty(STDIN_FILENO)) {
        *error = QStringLiteral("no terminal to ask the passphrase on; give it with "
                                "--passphrase-file FILE");
        return std::nullopt;
    }
    std::fprintf(stderr, "%s: ", qPrintable(prompt));
    std::fflush(stderr);
    std::optional<SecretBytes> first = readLine(STDIN_FILENO);
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
    const std::optional<SecretBytes> second = readLine(STDIN_FILENO);
    if (!second || !(*first == *second)) {
        *error = QStringLiteral("the two passphrases differ");
        return std::nullopt;
    }
    return first;
}
