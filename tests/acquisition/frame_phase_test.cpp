#include "acquisition/frame_phase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <vector>

namespace glove {
namespace {

constexpr char kMarker = static_cast<char>(kFrameMarker);

// Frames `first` to `first + count - 1` of a glove: the marker, then nine readings that
// change from frame to frame and are never 128, except values (1-based) in `at128`.
QByteArray glove(int count, std::initializer_list<int> at128 = {}, int first = 0) {
    QByteArray stream;
    for (int k = first; k < first + count; ++k) {
        QByteArray frame(1, kMarker);
        for (int value = 2; value <= kFrameLength; ++value) {
            frame.append(static_cast<char>(10 * value + k % 7));
        }
        for (const int value : at128) frame[value - 1] = kMarker;
        stream += frame;
    }
    return stream;
}

// Bytes with no marker among them.
QByteArray noise(int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i) bytes.append(static_cast<char>(i * 37 % 127));
    return bytes;
}

QByteArray withoutByte(QByteArray stream, int place) {
    return stream.remove(place, 1);
}

// The reads a pace led by the phase takes: each as long as the phase asks for. Silence lies
// between bursts; where a burst ends before a read is complete, the line goes quiet and the
// read takes what came.
std::vector<int> readLengths(const std::vector<QByteArray>& bursts) {
    FramePhase phase;
    std::vector<int> lengths;
    for (const QByteArray& burst : bursts) {
        for (qsizetype at = 0; at < burst.size();) {
            const qsizetype wanted = phase.nextReadLength();
            const qsizetype left = burst.size() - at;
            if (left < wanted) phase.quietAfter(static_cast<int>(left));
            const QByteArray read = burst.mid(at, std::min(wanted, left));
            phase.observe(read);
            lengths.push_back(static_cast<int>(read.size()));
            at += read.size();
        }
        phase.quietAfter(0);
    }
    return lengths;
}

struct StreamCase {
    const char* name;
    std::vector<QByteArray> bursts;
    std::vector<int> reads;
    friend void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }
};

class Phase : public ::testing::TestWithParam<StreamCase> {};

TEST_P(Phase, AsksForWholeFramesOrTheRestOfTheOneTheLastReadCut) {
    EXPECT_EQ(readLengths(GetParam().bursts), GetParam().reads);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, Phase,
    ::testing::Values(
        StreamCase{"FramesInStep", {glove(6)}, {10, 10, 10, 10, 10, 10}},
        // Values 2 and 6 are 128 in every frame, beside the marker: the reads stay whole.
        StreamCase{"ReadingsHeldAt128InStep", {glove(6, {2, 6})}, {10, 10, 10, 10, 10, 10}},
        StreamCase{"EveryReadingAt128", {QByteArray(60, kMarker)}, {10, 10, 10, 10, 10, 10}},
        // The marker shows at place 7 of two reads; the third takes the 7 left of its frame.
        StreamCase{"JoinedMidFrame", {glove(6).mid(3)}, {10, 10, 7, 10, 10, 10}},
        // Byte 6 of frame 4 is lost: the next read finds no marker where one was due and the
        // evidence starts over; once it and the read after it have shown the marker at place
        // 9, the third takes the 9 left of its frame.
        StreamCase{
            "LostByte", {withoutByte(glove(10), 35)}, {10, 10, 10, 10, 10, 10, 9, 10, 10, 10}},
        StreamCase{"Noise", {noise(60)}, {10, 10, 10, 10, 10, 10}},
        // The glove starts at place 5 of the third read; its marker is seen there twice.
        StreamCase{"NoiseThenAGloveOutOfStep",
                   {noise(25) + glove(6)},
                   {10, 10, 10, 10, 5, 10, 10, 10, 10}},
        // A 128 at place 3 of the second read is the only place left, but seen once only:
        // the glove that follows in step keeps whole reads.
        StreamCase{"Lone128InNoiseDoesNotCutAGoodFrame",
                   {noise(13) + QByteArray(1, kMarker) + noise(6) + glove(4)},
                   {10, 10, 10, 10, 10, 10}},
        // The glove stops four bytes into a frame and, after the silence, starts afresh.
        StreamCase{"RejoinAfterSilence",
                   {glove(3) + glove(1).left(4), glove(3)},
                   {10, 10, 10, 4, 10, 10, 10}},
        // Joined mid-frame with value 6 held at 128: two places stay, and the reads keep
        // their step until the reading moves in frame 5; then the marker alone is left.
        StreamCase{"HeldReadingMovesAfterJoiningMidFrame",
                   {glove(5, {6}).mid(3) + glove(4, {}, 5)},
                   {10, 10, 10, 10, 10, 10, 7, 10, 10}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace glove
