#include "record/secret_p.h"

#include <termios.h>
#include <unistd.h>

bool Passphrase::terminalThere()
{
    return ::isatty(STDIN_FILENO);
}

std::optional<SecretBytes> Passphrase::readHiddenLine()
{
    termios saved {};
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= tcflag_t(~ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    SecretBytes line(kLongest + 1);
    int size = 0;
    bool ended = false;
    for (unsigned char c; !ended;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n <= 0)
            break;
        if (c == '\n' || c == '\r')
            ended = true;
        else if (size < line.capacity())
            line.data()[size++] = c;
    }
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    line.resize(size);
    if (!ended)
        return std::nullopt;
    return line;
}
