#pragma once

#include "app/terminationsignals.h"

class QObject;

// Between the shared part of the termination watch and its one per-platform file.
namespace TerminationSignals {

/// Starts, once per process, turning the platform's termination requests into deliver() calls;
/// anything the watch needs in the event loop is made a child of context.
void startWatching(QObject *context);

/// Hands a request over to the watch's context, from any thread (a signal pipe's reader, a
/// console control handler's own thread).
void deliver(TerminationRequest request);

} // namespace TerminationSignals
