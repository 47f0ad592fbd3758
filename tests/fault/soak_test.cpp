// A long run at the glove's full stream: descriptors and memory stay flat, and the frames
// keep coming. GLOVE_SOAK_SECONDS sets the length of the streaming phase (60 by default).

#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <optional>
#include <vector>

#include "fault_rig.h"
#include "support/pty.h"
#include "support/temp_files.h"
#include "window_rig.h"

namespace glove::fault {
namespace {

using namespace std::chrono_literals;

constexpr int kDefaultSeconds = 60;
constexpr std::size_t kMostGrowth = 2 * 1024 * 1024;
// The line carries 48 frames a second; a few may fall to a late wake-up on a busy machine.
constexpr double kLeastShareShown = 0.9;

int soakSeconds() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("GLOVE_SOAK_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : kDefaultSeconds;
}

// The frame count glove-sim --count puts in values 7 to 10, seven bits each.
std::optional<int> counterIn(const QString& text) {
    constexpr int kFirst = 6;
    constexpr int kBits = 7;
    const QStringList values = text.split(QStringLiteral("  "));
    if (values.size() != 10 || values.first() != "128") return std::nullopt;
    int counter = 0;
    for (int i = kFirst; i < 10; ++i) counter = (counter << kBits) | values[i].toInt();
    return counter;
}

TEST(Soak, AFullStreamKeepsDescriptorsAndMemoryFlatAndTheFramesComing) {
    const int seconds = soakSeconds();
    const auto warmUp = std::chrono::milliseconds(std::min(5000, seconds * 250));
    test::TempDir dir;
    const QString link = dir.dir() + "/glove";
    QProcess glove;
    glove.start(QStringLiteral(GLOVE_SIM_PATH), {"--scenario", "wave", "--count", "--link", link,
                                                 "--for", QString::number(seconds + 60)});
    ASSERT_TRUE(glove.waitForStarted());
    for (int i = 0; i < 100 && !QFileInfo::exists(link); ++i) test::processEventsFor(50ms);
    ASSERT_TRUE(QFileInfo::exists(link)) << "glove-sim did not start";

    WindowRig rig(link, dir.path());
    QObject::disconnect(rig.recording);
    // Which frames were shown, from the first of the streaming phase on; sized up front so
    // that the bookkeeping does not count as the program's memory.
    int lastCounter = -1;
    std::optional<int> firstCounter;
    std::vector<char> shownSinceFirst(static_cast<std::size_t>(seconds) * 100 + 1000, 0);
    QObject::connect(rig.window.Text1(), &QLineEdit::textChanged, [&](const QString& text) {
        const auto counter = counterIn(text);
        if (!counter) return;
        lastCounter = *counter;
        if (!firstCounter || *counter < *firstCounter) return;
        const auto at = static_cast<std::size_t>(*counter - *firstCounter);
        if (at < shownSinceFirst.size()) shownSinceFirst[at] = 1;
    });
    int malformed = 0;
    QString firstMalformed;
    QTimer sampler;  // the file as another program would find it, at any moment
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const PathState state = PathState::of(dir.path());
        if (state.isFile() && !isWellFormedExchange(state.content) && malformed++ == 0) {
            firstMalformed = QString::fromLatin1(state.content.left(200));
        }
    });
    sampler.start(10);

    QElapsedTimer clock;
    int descriptorsAtStart = 0;
    int descriptorsAtEnd = 0;
    std::size_t memoryAtStart = 0;
    std::size_t memoryAtEnd = 0;
    int counterAtEnd = 0;
    const bool done = rig.connectAndRun({[&] {
                                             if (lastCounter < 0) return false;
                                             if (!clock.isValid()) clock.start();
                                             return clock.elapsed() >= warmUp.count();
                                         },
                                         [&] {
                                             descriptorsAtStart = openDescriptorCount();
                                             memoryAtStart = memoryInUse();
                                             firstCounter = lastCounter + 1;
                                             clock.start();
                                             return true;
                                         },
                                         [&] { return clock.elapsed() >= seconds * 1000LL; },
                                         [&] {
                                             descriptorsAtEnd = openDescriptorCount();
                                             memoryAtEnd = memoryInUse();
                                             counterAtEnd = lastCounter;
                                             QTest::mouseClick(rig.window.Exit(), Qt::LeftButton);
                                             return true;
                                         }},
                                        std::chrono::seconds(seconds + 60));
    glove.terminate();
    glove.waitForFinished(5000);

    EXPECT_TRUE(done);
    EXPECT_EQ(rig.ended, 1);
    EXPECT_EQ(descriptorsAtEnd, descriptorsAtStart) << "descriptors leak";
    EXPECT_LT(memoryAtEnd, memoryAtStart + kMostGrowth)
        << "memory grew from " << memoryAtStart << " to " << memoryAtEnd << " bytes";
    const int streamed = counterAtEnd - firstCounter.value_or(counterAtEnd) + 1;
    EXPECT_GE(streamed, seconds * 40) << "the frames did not keep coming";
    const auto shown = std::count(shownSinceFirst.begin(), shownSinceFirst.end(), 1);
    EXPECT_GE(static_cast<double>(shown), kLeastShareShown * streamed)
        << shown << " of " << streamed << " frames shown";
    EXPECT_EQ(malformed, 0) << firstMalformed.toStdString();
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dir.path())));
}

}  // namespace
}  // namespace glove::fault
