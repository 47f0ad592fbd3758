#pragma once

#include <QByteArray>

class QEventLoop;

namespace glove {

class MSComm;

// The Connect loop's one yield per pass. It lets the window handle its events until a
// whole read waits in the port's receive buffer, or until the line has been quiet for
// the time one read takes on the line, counted again from each arriving character. So a
// streaming glove is read a whole frame at a time, and a silent line costs one pass per
// frame time instead of a busy core.
//
// When the last read cut a frame (it came in mid-stream, or a read was short), reads
// would go on straddling two frames for as long as the glove streams. So the wait then
// ends as soon as the rest of that cut frame waits: that short read is dropped by the
// poll, and the reads after it start at a frame marker again.
class PacedYield {
  public:
    PacedYield(MSComm& comm, const QByteArray& dataF) : comm_(comm), dataF_(dataF) {}
    PacedYield(const PacedYield&) = delete;
    PacedYield& operator=(const PacedYield&) = delete;

    void operator()();
    // Ends a wait at once, e.g. when the loop is to start over or the program ends.
    void interrupt();

  private:
    [[nodiscard]] int charactersToWaitFor() const;

    MSComm& comm_;
    const QByteArray& dataF_;  // what the last read returned
    QEventLoop* waiting_ = nullptr;
};

}  // namespace glove
