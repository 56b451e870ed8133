#pragma once

#include <functional>

class QObject;

/// What asked the program to end: Ctrl-C at its terminal (SIGINT, a Windows console's Ctrl-C),
/// or something else (SIGTERM, SIGHUP, a console's Ctrl-Break or the closing of its window).
enum class TerminationRequest { CtrlC, Other };

/// Turns the requests to end the program that come from outside it (SIGINT, SIGTERM and SIGHUP:
/// Ctrl-C in a terminal, a shutdown, the end of the session; on a Windows console Ctrl-C,
/// Ctrl-Break and the closing of its window) into a call of onRequest on context's thread, from
/// its event loop, so that the program ends the way its own controls end it. One watch per
/// process; a later call replaces it.
void watchTerminationSignals(QObject *context, std::function<void(TerminationRequest)> onRequest);
