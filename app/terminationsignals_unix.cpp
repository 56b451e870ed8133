#include "app/terminationsignals_p.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a descriptor, here the signal's number; the event loop
// reads the other end.
int signalPipe[2] = {-1, -1};

void onSignal(int number)
{
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

void TerminationSignals::startWatching(QObject *context)
{
    if (signalPipe[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
            return;
        for (int end : signalPipe)
            ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            ::sigaction(signal, &action, nullptr);
    }
    static QPointer<QSocketNotifier> notifier;
    delete notifier;
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] {
        // Signals that came together are one request, of the first one's kind.
        char first = 0;
        if (::read(signalPipe[0], &first, 1) != 1)
            return;
        char rest[16];
        while (::read(signalPipe[0], rest, sizeof rest) > 0) { }
        deliver(first == SIGINT ? TerminationRequest::CtrlC : TerminationRequest::Other);
    });
}
