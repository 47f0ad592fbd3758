#pragma once

class QEventLoop;

namespace glove {

class MSComm;

// The Connect loop's one yield per pass. It lets the window handle its events until a
// whole read waits in the port's receive buffer, or until the line has been quiet for
// the time one read takes on the line, counted again from each arriving character. So a
// streaming glove is read a whole frame at a time, and a silent line costs one pass per
// frame time instead of a busy core.
class PacedYield {
  public:
    explicit PacedYield(MSComm& comm) : comm_(comm) {}
    PacedYield(const PacedYield&) = delete;
    PacedYield& operator=(const PacedYield&) = delete;

    void operator()();
    // Ends a wait at once, e.g. when the loop is to start over or the program ends.
    void interrupt();

  private:
    [[nodiscard]] bool wholeReadWaits() const;

    MSComm& comm_;
    QEventLoop* waiting_ = nullptr;
};

}  // namespace glove
