#include "monitor/connect_loop.h"

#include <gtest/gtest.h>

#include <QStringList>

#include "common/run_time_error.h"
#include "monitor/glove_pipeline.h"
#include "monitor/status_text.h"
#include "support/case_names.h"
#include "support/message_log.h"
#include "support/pty.h"
#include "support/recording_display.h"
#include "support/temp_files.h"

namespace glove {
namespace {

using Step = ConnectLoop::Step;
using test::bytes;
using test::RecordingDisplay;

const QByteArray kPlainFrame = bytes({128, 1, 40, 50, 60, 70, 80, 90, 100, 110});
const QByteArray kGestureFrame = bytes({128, 0, 100, 150, 220, 100, 0, 0, 0, 0});
const QByteArray kBatteryFrame = bytes({128, 3, 100, 200, 100, 200, 0, 0, 0, 0});

// The pipeline on a pseudo-terminal, with the real poll and exchange file; the yield is the
// test's, so it drives the loop pass by pass and sends the glove's frames.
class Loop : public ::testing::Test {
  protected:
    Loop() {
        // The device listens before the glove sends: what came before its open is dropped.
        EXPECT_TRUE(pipeline.comm().receive());
        loop.setStepProbe([this](Step step) {
            trace.push_back(step);
            if (failAt && *failAt == step && !failed) {
                failed = true;
                throw RunTimeError(ErrorNumber::InvalidArgument, "rehearsed failure");
            }
        });
    }

    // Runs Connect for the given frames, one per pass; an empty frame sends nothing.
    void runPasses(const std::vector<QByteArray>& frames) {
        yieldAction = [this, frames](int pass) {
            if (pass > static_cast<int>(frames.size())) {
                loop.stop();
                return;
            }
            glove.send(frames[pass - 1]);
        };
        loop.run();
    }

    test::Pty glove;
    test::TempDir dir;
    std::string path = dir.path();
    RecordingDisplay display;

    std::vector<std::optional<Step>> trace;  // the steps as they ran; empty where a poll ran
    std::optional<Step> failAt;
    bool failed = false;
    std::function<void(int)> yieldAction;
    int yields = 0;
    int depth = 0;
    int deepest = 0;

    GlovePipeline pipeline{display,
                           {.device = glove.path(),
                            .exchangePath = path,
                            .aroundPoll =
                                [this](FramePoll& poll) {
                                    trace.push_back(std::nullopt);
                                    poll.run();
                                },
                            .aroundYield =
                                [this](PacedYield&) {
                                    deepest = std::max(deepest, ++depth);
                                    display.pass = ++yields;
                                    if (yieldAction) yieldAction(yields);
                                    --depth;
                                }}};
    ConnectLoop& loop = pipeline.loop();
};

TEST_F(Loop, ShowsTheValuesAndMovesTheBars) {
    runPasses({kPlainFrame});
    EXPECT_EQ(display.allTexts().first(), status::kConnecting);
    EXPECT_EQ(display.textsOfPass(1), QStringList{"128  1  40  50  60  70  80  90  100  110"});
    const std::vector<std::pair<std::string, float>> expected{
        {"thumb left", 1400}, {"thumb width", -185}, {"finger 0", 1200},
        {"finger 1", 1140},   {"finger 2", 1070},    {"finger 3", 1120}};
    EXPECT_EQ(display.stores, expected);
    EXPECT_EQ(test::readAll(path), "128,1,40,50,60,70,80,90,100,110\r\n");
}

TEST_F(Loop, ShowsGestureAndBatteryWarnings) {
    runPasses({kGestureFrame, kBatteryFrame, kPlainFrame});
    EXPECT_EQ(display.textsOfPass(1), QStringList{status::kGesture});
    EXPECT_EQ(display.textsOfPass(2), QStringList{status::kBattery});
    EXPECT_EQ(display.allTexts().count(status::kConnecting), 1) << "only until the first pass ends";
}

TEST_F(Loop, WithoutAGloveEveryPassEndsWithNoDeviceAndTheBarsStay) {
    runPasses({{}, {}, {}, {}});
    // The exchange file starts empty: nothing was ever read back, so the values line of
    // an empty reading shows before the pass ends with " No Device Found".
    EXPECT_EQ(display.textsOfPass(1), (QStringList{QString(18, ' '), status::kNoDevice}));
    for (int pass = 2; pass <= 4; ++pass) {
        EXPECT_EQ(display.textsOfPass(pass).last(), status::kNoDevice) << "pass " << pass;
    }
    EXPECT_TRUE(display.stores.empty());
}

TEST_F(Loop, SilenceAfterAFrameRepeatsTheReadingThenSaysNoDevice) {
    runPasses({kPlainFrame, {}});
    // The empty read empties the file, the read-back fails with "input past end", and the
    // previous reading is shown again, replaced in the same pass.
    EXPECT_EQ(display.textsOfPass(2),
              (QStringList{"128  1  40  50  60  70  80  90  100  110", status::kNoDevice}));
    EXPECT_EQ(display.stores.size(), 6U) << "the bars moved in the first pass only";
}

TEST_F(Loop, ConnectPressedInsideTheYieldRestartsInPlaceWithoutNesting) {
    yieldAction = [this](int pass) {
        if (pass == 1) {
            glove.send(kPlainFrame);
        } else if (pass == 2) {
            for (int i = 0; i < 10'000; ++i) loop.run();
        } else {
            loop.stop();
        }
    };
    loop.run();
    EXPECT_EQ(deepest, 1) << "a press while the loop runs must not nest a new loop";
    EXPECT_EQ(std::count(trace.begin(), trace.end(), Step::ShowConnecting), 2);
    // The restarted loop begins with a fresh, empty reading.
    EXPECT_EQ(display.textsOfPass(2), QStringList{status::kConnecting});
    EXPECT_FALSE(loop.running());
}

TEST_F(Loop, StopInsideTheYieldRunsNoFurtherStep) {
    yieldAction = [this](int) { loop.stop(); };
    loop.run();
    EXPECT_EQ(trace.back(), std::optional(Step::Yield));
    EXPECT_EQ(display.allTexts(), QStringList{status::kConnecting});
}

TEST_F(Loop, AnErrorEscapingTheExtraPollEndsTheRunAndIsReported) {
    test::MessageLog log;
    ConnectLoop failing({.comm = pipeline.comm(),
                         .files = pipeline.files(),
                         .display = display,
                         .dataF = pipeline.dataF(),
                         .poll = [] { throw RunTimeError(ErrorNumber::DeviceIoError, "broken"); },
                         .yield = [] {},
                         .exchangePath = path});
    failing.run();  // the step poll fails, and so does the trap's extra poll
    EXPECT_FALSE(failing.running());
    EXPECT_EQ(log.count("Connect loop stopped"), 1) << log.text().toStdString();
}

// Each step made to fail once: one extra poll runs, then the step the table names.
struct Continuation {
    const char* name;
    Step failing;
    Step next;
    QByteArray frame;  // what the glove sends, so that the pass reaches the failing step
};

class LoopTrap : public Loop, public ::testing::WithParamInterface<Continuation> {};

TEST_P(LoopTrap, RunsOneExtraPollAndGoesOnWithTheNamedStep) {
    failAt = GetParam().failing;
    runPasses({GetParam().frame, GetParam().frame});
    const auto at = std::find(trace.begin(), trace.end(), GetParam().failing);
    ASSERT_NE(at, trace.end());
    ASSERT_GE(std::distance(at, trace.end()), 3);
    EXPECT_EQ(*(at + 1), std::nullopt) << "one extra poll";
    EXPECT_EQ(*(at + 2), std::optional(GetParam().next));
}

const QByteArray kSilence;

INSTANTIATE_TEST_SUITE_P(
    EveryStep, LoopTrap,
    ::testing::Values(
        Continuation{"CloseAllFiles", Step::CloseAllFiles, Step::ShowConnecting, kPlainFrame},
        Continuation{"ShowConnecting", Step::ShowConnecting, Step::SetCommPort, kPlainFrame},
        Continuation{"SetCommPort", Step::SetCommPort, Step::SetSettings, kPlainFrame},
        Continuation{"SetSettings", Step::SetSettings, Step::SetInputLen, kPlainFrame},
        Continuation{"SetInputLen", Step::SetInputLen, Step::Yield, kPlainFrame},
        Continuation{"Yield", Step::Yield, Step::Poll, kPlainFrame},
        Continuation{"Poll", Step::Poll, Step::OpenExchangeFile, kPlainFrame},
        Continuation{"OpenExchangeFile", Step::OpenExchangeFile, Step::ReadReading, kPlainFrame},
        Continuation{"ReadReading", Step::ReadReading, Step::GestureTest, kPlainFrame},
        Continuation{"GestureTest", Step::GestureTest, Step::ShowGesture, kPlainFrame},
        Continuation{"ShowGesture", Step::ShowGesture, Step::CloseExchangeFile, kGestureFrame},
        Continuation{"BatteryTest", Step::BatteryTest, Step::ShowBattery, kPlainFrame},
        Continuation{"ShowBattery", Step::ShowBattery, Step::CloseExchangeFile, kBatteryFrame},
        Continuation{"ShowValues", Step::ShowValues, Step::CloseExchangeFile, kPlainFrame},
        Continuation{"CloseExchangeFile", Step::CloseExchangeFile, Step::DataFTest, kPlainFrame},
        Continuation{"DataFTest", Step::DataFTest, Step::ShowNoDevice, kPlainFrame},
        Continuation{"ShowNoDevice", Step::ShowNoDevice, Step::Yield, kSilence},
        Continuation{"SetThumbLeft", Step::SetThumbLeft, Step::SetThumbWidth, kPlainFrame},
        Continuation{"SetThumbWidth", Step::SetThumbWidth, Step::SetFinger0Top, kPlainFrame},
        Continuation{"SetFinger0Top", Step::SetFinger0Top, Step::SetFinger1Top, kPlainFrame},
        Continuation{"SetFinger1Top", Step::SetFinger1Top, Step::SetFinger2Top, kPlainFrame},
        Continuation{"SetFinger2Top", Step::SetFinger2Top, Step::SetFinger3Top, kPlainFrame},
        Continuation{"SetFinger3Top", Step::SetFinger3Top, Step::Yield, kPlainFrame}),
    test::CaseName());

TEST_F(Loop, AFailedStoreSkipsOnlyThatStore) {
    failAt = Step::SetFinger1Top;
    runPasses({kPlainFrame});
    std::vector<std::string> stored;
    for (const auto& [name, value] : display.stores) stored.push_back(name);
    EXPECT_EQ(stored, (std::vector<std::string>{"thumb left", "thumb width", "finger 0", "finger 2",
                                                "finger 3"}));
}

TEST_F(Loop, AFailedGestureTestShowsTheGestureText) {
    failAt = Step::GestureTest;
    runPasses({kPlainFrame});
    // The extra poll found the port empty, so the pass ends with " No Device Found".
    EXPECT_EQ(display.textsOfPass(1), (QStringList{status::kGesture, status::kNoDevice}));
}

}  // namespace
}  // namespace glove
