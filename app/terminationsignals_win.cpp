#include "app/terminationsignals_p.h"

#include <windows.h>

namespace {

// Runs on a thread of its own that Windows starts for each console event.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        TerminationSignals::deliver(TerminationRequest::CtrlC);
        return TRUE;
    case CTRL_BREAK_EVENT:
        TerminationSignals::deliver(TerminationRequest::Other);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        // The console window is closing: Windows ends the process as soon as this returns, or
        // some seconds later if it does not. Waiting here lets the event loop finish the writes
        // in progress; the process then ends from main(), which ends this thread too.
        TerminationSignals::deliver(TerminationRequest::Other);
        ::Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void TerminationSignals::startWatching(QObject *)
{
    [[maybe_unused]] static const BOOL installed = ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
