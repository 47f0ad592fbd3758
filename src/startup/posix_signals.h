#pragma once

#include <QObject>
#include <functional>

namespace glove {

// Calls `onSignal` on the calling thread's event loop for each SIGINT, SIGTERM and SIGHUP, for as
// long as `context` lives. The signal handler itself only writes a byte to a socket pair.
// False, with errno set, if the signals cannot be caught.
bool watchTerminationSignals(QObject& context, std::function<void()> onSignal);

}  // namespace glove
