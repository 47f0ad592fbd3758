#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "plot/plot_history.h"
#include "plot/plot_window.h"
#include "posture/posture_watch.h"

namespace glove::plot {
namespace {

using namespace std::chrono_literals;

TEST(PlotHistory, KeepsTheLastTenSecondsOldestFirst) {
    PlotHistory history;
    const auto t0 = PlotHistory::Clock::time_point{} + 1h;
    for (int i = 0; i <= 12; ++i) history.add(t0 + i * 1s, Frame{128, i});
    ASSERT_EQ(history.samples().size(), 11U);
    EXPECT_EQ(history.samples().front().frame[1], 2);
    EXPECT_EQ(history.samples().back().frame[1], 12);
}

TEST(PlotLanes, StackValues2To10AndPutNowAtTheRightEdge) {
    const Lane first = laneOf(2, 600, 10, 450, 100);
    const Lane last = laneOf(10, 600, 10, 450, 100);
    EXPECT_DOUBLE_EQ(first.top, 10);
    EXPECT_DOUBLE_EQ(last.top + last.height, 460);
    EXPECT_DOUBLE_EQ(first.y(255), first.top);
    EXPECT_DOUBLE_EQ(first.y(0), first.top + first.height);
    const auto now = PlotHistory::Clock::time_point{} + 1h;
    EXPECT_DOUBLE_EQ(last.x(now, now), 600);
    EXPECT_DOUBLE_EQ(last.x(now - 5s, now), 350);
    EXPECT_DOUBLE_EQ(last.x(now - 10s, now), 100);
}

// The real window, drawn off screen: each value's trace lies in its own lane, at its value.
TEST(PlotWindow, DrawsEachValueInItsOwnLane) {
    calibration::Calibrator calibrator;
    PlotWindow plot(calibrator);
    plot.resize(640, 480);
    const Frame low{128, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const Frame high{128, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    for (int i = 0; i < 20; ++i) plot.frameRead(std::span(i % 2 ? &high : &low, 1));
    const QImage image = plot.grab().toImage();
    EXPECT_EQ(plot.stateText(), "Not calibrated");
    // Far right, where the newest frames are: each lane holds the colour of its own trace.
    for (int value = 2; value <= 10; ++value) {
        const Lane lane =
            laneOf(value, 640 - 6, 6, 480 - 6 - plot.fontMetrics().height() - 12, 110);
        int coloured = 0;
        for (int y = int(lane.top) + 1; y < int(lane.top + lane.height) - 1; ++y) {
            bool drawn = false;
            for (int x = 600; x < 640; ++x) drawn = drawn || image.pixelColor(x, y) != Qt::white;
            coloured += drawn ? 1 : 0;
        }
        EXPECT_GT(coloured, lane.height / 2) << "value " << value;
    }
}

// The line below the calibration's state: nothing until the plot is given the watch, then the
// posture the hand holds as the watch sees it, drawn at the next repaint.
TEST(PlotWindow, TellsThePostureTheHandHolds) {
    calibration::Calibrator calibrator;
    posture::PostureWatch watch(calibrator);
    PlotWindow plot(calibrator);
    plot.resize(640, 480);
    EXPECT_EQ(plot.postureText(), "");
    plot.showPostures(watch);
    EXPECT_EQ(plot.postureText(), "No postures learnt");
    watch.startLearning(posture::PostureWatch::Clock::now(), 2s);
    EXPECT_EQ(plot.postureText(), "Learning a posture: hold the hand still, 2 s left");
    watch.cancelLearning();

    posture::PostureSet set;
    posture::Values open{};
    open.fill(0.2F);
    ASSERT_EQ(set.add({"open", open}), "");
    watch.setPostures(set);
    EXPECT_EQ(plot.postureText(), "Posture: none");
    const QRect postureLine(0, 480 - 6 - plot.fontMetrics().height(), 640,
                            plot.fontMetrics().height());
    const QImage none = plot.grab().toImage().copy(postureLine);
    const Frame held{128, 51, 51, 51, 51, 51, 51, 51, 51, 51};
    for (int i = 0; i < posture::kHoldFrames; ++i) {
        watch.frameRead(std::span(&held, 1));
        plot.frameRead(std::span(&held, 1));
    }
    EXPECT_EQ(plot.postureText(), "Posture: open");
    EXPECT_NE(plot.grab().toImage().copy(postureLine), none);
}

}  // namespace
}  // namespace glove::plot
