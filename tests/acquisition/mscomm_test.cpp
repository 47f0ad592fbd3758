#include "acquisition/mscomm.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QSignalSpy>

#include "support/case_names.h"
#include "support/errors.h"
#include "support/message_log.h"
#include "support/pty.h"
#include "support/temp_files.h"

namespace glove {
namespace {

using namespace std::chrono_literals;
using test::bytes;
using test::errorOf;
using test::processEventsFor;
using test::Pty;

void setUp(MSComm& comm) {
    comm.setCommPort(2);
    comm.setSettings("4800,N,8,1");
    comm.setInputLen(10);
}

// The serial control on a pseudo-terminal glove, set up as the program sets it up.
class OnAGlove : public ::testing::Test {
  protected:
    OnAGlove() { setUp(comm); }

    Pty glove;
    MSComm comm{glove.path()};
};

using OpenAndClose = OnAGlove;
using Input = OnAGlove;
using OnComm = OnAGlove;
using Open = OnAGlove;
using Watching = OnAGlove;

TEST(PortNumbers, MapToThePlatformsDevices) {
    EXPECT_EQ(devicePathForPort(1), "/dev/ttyS0");
    EXPECT_EQ(devicePathForPort(2), "/dev/ttyS1");
    MSComm comm;
    comm.setCommPort(2);
    EXPECT_EQ(comm.devicePath(), "/dev/ttyS1");
    MSComm overridden("/dev/ttyUSB0");
    overridden.setCommPort(2);
    EXPECT_EQ(overridden.devicePath(), "/dev/ttyUSB0");
}

TEST(Properties, RefuseBadValues) {
    MSComm comm;
    EXPECT_EQ(errorOf([&] { comm.setCommPort(0); }), ErrorNumber::InvalidPortNumber);
    EXPECT_EQ(errorOf([&] { comm.setCommPort(256); }), ErrorNumber::InvalidPortNumber);
    EXPECT_EQ(errorOf([&] { comm.setSettings("4800,Q,8,1"); }), ErrorNumber::InvalidPropertyValue);
    EXPECT_EQ(comm.settings(), "4800,N,8,1") << "a refused value must not be kept";
    EXPECT_EQ(errorOf([&] { comm.setInputLen(-1); }), ErrorNumber::InvalidPropertyValue);
    EXPECT_EQ(errorOf([&] { comm.setRThreshold(-1); }), ErrorNumber::InvalidPropertyValue);
    EXPECT_EQ(comm.property("Settings").toString(), "4800,N,8,1");
}

TEST_F(OpenAndClose, SecondOpenIsPortAlreadyOpenAndClosedPortRefusesInput) {
    EXPECT_EQ(errorOf([&] { comm.input(); }), ErrorNumber::PortNotOpen);
    comm.setPortOpen(true);
    EXPECT_TRUE(comm.portOpen());
    EXPECT_EQ(errorOf([&] { comm.setPortOpen(true); }), ErrorNumber::PortAlreadyOpen);
    EXPECT_EQ(errorOf([&] { comm.setCommPort(3); }), ErrorNumber::PortAlreadyOpen);
    EXPECT_TRUE(comm.input().isEmpty()) << "nothing waits: the empty text, at once";
    comm.setPortOpen(false);
    EXPECT_FALSE(comm.portOpen());
    EXPECT_EQ(errorOf([&] { comm.input(); }), ErrorNumber::PortNotOpen);
}

TEST_F(Input, ReturnsAtMostInputLenAndWhatWaitsRightAfterOpen) {
    comm.setPortOpen(true);
    glove.send(QByteArray("abcdefghijklmno"));
    // No event processing in between: the read itself must take in what the OS holds.
    ::usleep(20'000);
    EXPECT_EQ(comm.input(), "abcdefghij");
    EXPECT_EQ(comm.input(), "klmno");
    comm.setInputLen(0);  // 0 reads everything waiting
    glove.send(QByteArray(50, 'x'));
    ::usleep(20'000);
    EXPECT_EQ(comm.input().size(), 50);
}

TEST_F(Input, BytesArrivingWhileClosedForTheProgramWaitForTheNextOpen) {
    comm.setPortOpen(true);
    comm.setPortOpen(false);
    QSignalSpy arrived(&comm, &MSComm::charactersArrived);
    glove.send(bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    processEventsFor(50ms);
    EXPECT_GE(arrived.count(), 1);
    EXPECT_EQ(comm.inBufferCount(), 10);
    comm.setPortOpen(true);
    EXPECT_EQ(comm.input(), bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(Input, ControlBytesArriveExactlyAndNothingIsEchoed) {
    comm.setPortOpen(true);
    const QByteArray frame = bytes({128, 3, 13, 17, 19, 21, 127, 10, 0, 255});
    glove.send(frame);
    processEventsFor(30ms);
    EXPECT_EQ(comm.input(), frame);
    EXPECT_TRUE(glove.received(100ms).isEmpty());
}

TEST_F(Input, ReceiveBufferIsBounded) {
    comm.setPortOpen(true);
    comm.setPortOpen(false);
    for (int i = 0; i < 8; ++i) glove.send(QByteArray(1024, 'z'));
    processEventsFor(100ms);
    EXPECT_LE(comm.inBufferCount(), MSComm::kReceiveBufferSize);
}

TEST_F(OnComm, IsRaisedByReceivedCharactersOnlyAtAThreshold) {
    QSignalSpy onComm(&comm, &MSComm::OnComm);
    comm.setPortOpen(true);
    glove.send(QByteArray(10, 'a'));
    processEventsFor(50ms);
    EXPECT_EQ(onComm.count(), 0) << "threshold 0: received data raises nothing";
    comm.input();
    comm.setRThreshold(5);
    glove.send(QByteArray(10, 'a'));
    processEventsFor(50ms);
    EXPECT_GE(onComm.count(), 1);
}

TEST(MissingDevice, IsDeviceUnavailableReportedOnce) {
    test::TempDir dir;
    test::MessageLog log;
    MSComm comm(dir.dir() + "/no-such-device");
    setUp(comm);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(errorOf([&] { comm.setPortOpen(true); }), ErrorNumber::DeviceUnavailable);
    }
    EXPECT_FALSE(comm.portOpen());
    EXPECT_EQ(log.count("no-such-device"), 1) << log.text().toStdString();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

TEST(Unplug, ClosesTheDeviceAtTheFirstErrorAndReopensAfreshSayingWhyMeanwhile) {
    test::TempDir dir;
    const QString link = dir.dir() + "/glove";
    test::MessageLog log;
    auto first = std::make_unique<Pty>();
    ASSERT_TRUE(QFile::link(first->path(), link));
    MSComm comm(link);
    setUp(comm);
    QSignalSpy problems(&comm, &MSComm::problemChanged);
    comm.setPortOpen(true);
    first->send(QByteArray(10, 'a'));
    processEventsFor(30ms);
    ASSERT_EQ(comm.input().size(), 10);
    comm.setPortOpen(false);

    first.reset();  // unplugged
    const double before = cpuSeconds();
    processEventsFor(300ms);
    EXPECT_LT(cpuSeconds() - before, 0.1) << "a hung-up device must not be polled busily";
    EXPECT_EQ(comm.inBufferCount(), 0);
    EXPECT_EQ(log.count("failed"), 1) << log.text().toStdString();
    EXPECT_TRUE(comm.problem().startsWith(link + ": the serial device failed"));
    EXPECT_TRUE(comm.problem().contains("unplugged")) << comm.problem().toStdString();
    // The device node is gone (its number may already serve another terminal).
    ASSERT_TRUE(QFile::remove(link));
    EXPECT_EQ(errorOf([&] { comm.setPortOpen(true); }), ErrorNumber::DeviceUnavailable);
    EXPECT_FALSE(comm.receive());
    EXPECT_TRUE(comm.problem().contains("No such file or directory"));
    EXPECT_TRUE(comm.problem().contains("glove-monitor --list-ports"));

    Pty second;  // plugged in again behind the same name
    ASSERT_TRUE(QFile::link(second.path(), link));
    comm.setPortOpen(true);
    EXPECT_TRUE(comm.problem().isEmpty());
    second.send(bytes({128, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
    processEventsFor(30ms);
    EXPECT_EQ(comm.input(), bytes({128, 9, 8, 7, 6, 5, 4, 3, 2, 1}));
    ASSERT_EQ(problems.size(), 3) << "each change told once: failed, missing, working";
    EXPECT_TRUE(problems.last().first().toString().isEmpty());
}

TEST_F(Open, DropsWhatWaitedOnTheLineBeforeTheDeviceOpened) {
    glove.send(QByteArray(500, 'o'));  // sent while nobody listened
    processEventsFor(30ms);
    comm.setPortOpen(true);
    glove.send(bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    processEventsFor(30ms);
    EXPECT_EQ(comm.input(), bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(Watching, CharactersWaitUnsaidWhileUnwatchedAndArriveAtOnceAfter) {
    comm.setPortOpen(true);
    QSignalSpy arrived(&comm, &MSComm::charactersArrived);
    comm.watchArrivals(false);
    glove.send(bytes({128, 1, 2, 3, 4}));
    processEventsFor(50ms);
    EXPECT_EQ(arrived.count(), 0);
    EXPECT_EQ(comm.inBufferCount(), 0);
    comm.takeInWaiting();
    EXPECT_EQ(arrived.count(), 1) << "what came unwatched arrives when taken in, and once";
    EXPECT_EQ(comm.inBufferCount(), 5);
    glove.send(bytes({5, 6, 7, 8, 9}));
    processEventsFor(50ms);
    EXPECT_EQ(arrived.count(), 1);
    comm.watchArrivals(true);
    processEventsFor(30ms);
    EXPECT_EQ(arrived.count(), 2) << "watched again, what waits arrives at the next events";
    EXPECT_EQ(comm.input(), bytes({128, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(Busy, ADeviceAnotherReaderHoldsIsRefusedAsPermissionDeniedNamingTheCause) {
    Pty glove;
    MSComm first(glove.path());
    MSComm second(glove.path());
    setUp(first);
    setUp(second);
    first.setPortOpen(true);
    EXPECT_EQ(errorOf([&] { second.setPortOpen(true); }), ErrorNumber::PermissionDenied);
    EXPECT_TRUE(second.problem().startsWith(glove.path() + ": in use by another program"));
    EXPECT_TRUE(second.problem().contains("fuser -v " + glove.path()));
}

// A pseudo-terminal always carries eight bits without parity, whatever it is asked; the
// speed, the stop bits and the raw mode show.
struct DeviceSettings {
    const char* settings;
    speed_t speed;  // CBAUDEX: a rate of its own, beyond the classic codes
    bool twoStopBits;
};

class Devices : public testing::TestWithParam<DeviceSettings> {};

TEST_P(Devices, TakeTheSettingsRawAndGetTheirOwnBackAtTheEnd) {
    const DeviceSettings& want = GetParam();
    Pty glove;
    const termios found = glove.settings();
    {
        MSComm comm(glove.path());
        setUp(comm);
        comm.setSettings(want.settings);
        comm.setPortOpen(true);
        const termios t = glove.settings();
        EXPECT_EQ(cfgetispeed(&t), want.speed);
        EXPECT_EQ(cfgetospeed(&t), want.speed);
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, want.twoStopBits);
        EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0U) << "raw: no line editing or echo";
        EXPECT_EQ(t.c_iflag & (ICRNL | IXON | ISTRIP), 0U) << "raw: every byte as it came";
    }
    const termios after = glove.settings();
    EXPECT_EQ(cfgetispeed(&after), cfgetispeed(&found));
    EXPECT_EQ(after.c_cflag, found.c_cflag);
}

INSTANTIATE_TEST_SUITE_P(Settings, Devices,
                         testing::Values(DeviceSettings{"4800,N,8,1", B4800, false},
                                         DeviceSettings{"9600,E,7,2", B9600, true},
                                         DeviceSettings{"1200,O,5,1.5", B1200, true},
                                         DeviceSettings{"4000000,S,8,1", B4000000, false},
                                         DeviceSettings{"12345,N,8,1", CBAUDEX, false}),
                         test::NamedBy<&DeviceSettings::settings>());

}  // namespace
}  // namespace glove
