#pragma once

#include <chrono>
#include <functional>

namespace glove {

// When the paced yield next looks at the line, decided from when characters were seen to
// arrive; the waiting itself is the yield's. A glove sends its characters at the line's pace,
// so once one character's arrival has been seen (the anchor), the time of every later one is
// known: the yield sleeps until the read's last character is due and looks once. While reads
// come back to back it keeps the anchor from read to read and sleeps until the next read's
// end without waiting for that read's first character.
//
// Characters are counted from the first one taken out of the buffer, so the anchor keeps its
// place however the reads cut the stream. A look that finds the read short watches the line
// and anchors again on the next character, unless that character, seen late, says less than
// the anchor already does. An anchor that was taken late (the window was busy when the
// character came) would make every later wake late by as much: after a few reads aimed at
// the anchor, each predicted read aims earlier than the last, twice as early each time, until
// a look finds the read a character short and the watched character tells where the line is.
class FramePace {
  public:
    using Clock = std::chrono::steady_clock;
    using Time = Clock::time_point;
    // How long that many characters take on the line.
    using LineTime = std::function<std::chrono::nanoseconds(int characters)>;

    struct Wait {
        enum class Kind {
            Done,   // the read waits whole in the buffer
            Watch,  // watch the line: the next character's time cannot be foreseen
            Sleep,  // do not watch the line; look again at `until`
        };
        Kind kind = Kind::Watch;
        Time until{};
        friend bool operator==(const Wait&, const Wait&) = default;
    };

    explicit FramePace(LineTime lineTime) : lineTime_(std::move(lineTime)) {}

    // How many characters the next read takes: the rest of a cut frame when the phase asks
    // for fewer than a frame, else InputLen (0: all there are, which no wait ends but quiet).
    static int readLength(int inputLen, int phaseWants);

    // A yield begins that wants `wanted` characters, `waiting` of which are in the buffer.
    Wait begin(int wanted, int waiting, Time now);
    // The watched line brought characters: `waiting` are in the buffer now.
    Wait arrived(int waiting, Time now);
    // The sleep ended, and what the system held has been taken into the buffer.
    Wait wake(int waiting, Time now);
    // A read took this many characters out of the buffer.
    void took(int characters);
    // The line went quiet, or the buffer was emptied: the next character's time is unknown.
    void lost();

  private:
    struct Anchor {
        Time time{};
        long long index = 0;  // the characters that had arrived by then, counted as taken_
    };
    [[nodiscard]] Time due(long long index) const;
    void anchorOn(long long arrived, Time now, bool oneCharacter);
    void catchUp(long long arrived, Time now);

    LineTime lineTime_;
    long long taken_ = 0;    // characters taken out of the buffer so far
    bool anchored_ = false;  // anchor_ holds a character's arrival
    Anchor anchor_;
    bool backToBack_ = false;           // reads follow one another at the line's pace
    std::chrono::nanoseconds early_{};  // how much earlier than the anchor says the wake aims
    int trustedReads_ = 0;              // predicted reads since the anchor was taken

    // The read in progress.
    int wanted_ = 0;
    long long seen_ = 0;      // characters known to have arrived at the last look
    bool predicted_ = false;  // its sleep was foreseen from an earlier read's anchor
    bool slowerThanTheLine_ = false;
};

}  // namespace glove
