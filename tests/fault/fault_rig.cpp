#include "fault_rig.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "exchange/exchange_file.h"
#include "monitor/status_text.h"

// The address sanitizer's count of live heap bytes; null unless the sanitizer is linked in.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

namespace glove::fault {

namespace {

constexpr int kHighestValue = 255;

}  // namespace

::testing::AssertionResult isWellFormedExchange(const QByteArray& content) {
    static const QRegularExpression line(QStringLiteral("^128(,(0|[1-9][0-9]{0,2})){9}\\r$"));
    if (content.isEmpty()) return ::testing::AssertionSuccess();
    if (!content.endsWith("\r\n")) {
        return ::testing::AssertionFailure()
               << "not ended by CR LF: " << content.left(200).toStdString();
    }
    const QList<QByteArray> lines = content.chopped(1).split('\n');
    for (const QByteArray& text : lines) {
        const QString asText = QString::fromLatin1(text);
        if (!line.match(asText).hasMatch()) {
            return ::testing::AssertionFailure()
                   << "malformed line: " << text.left(200).toStdString();
        }
        for (const QString& value : asText.chopped(1).split(',')) {
            if (value.toInt() > kHighestValue) {
                return ::testing::AssertionFailure() << "value above 255: " << text.toStdString();
            }
        }
    }
    return ::testing::AssertionSuccess();
}

QByteArray linesFor(const QByteArray& frame) {
    QByteArray lines;
    for (int marker = 0; marker < frame.size(); ++marker) {
        if (static_cast<unsigned char>(frame[marker]) != kFrameMarker) continue;
        QStringList values;
        for (int i = 0; i < frame.size(); ++i) {
            values << QString::number(
                static_cast<unsigned char>(frame[(marker + i) % frame.size()]));
        }
        lines += values.join(',').toLatin1() + "\r\n";
    }
    return lines;
}

QString valuesTextFor(const QByteArray& frame) {
    const QByteArray first = linesFor(frame).split('\r').first();
    return QString::fromLatin1(first).split(',').join(QStringLiteral("  "));
}

PathState PathState::of(const std::string& path) {
    PathState state;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return state;
    state.size = st.st_size;
    state.inode = st.st_ino;
    state.owner = st.st_uid;
    state.mode = st.st_mode;
    state.links = st.st_nlink;
    if (S_ISDIR(st.st_mode)) {
        state.kind = Kind::Directory;
    } else if (S_ISFIFO(st.st_mode)) {
        state.kind = Kind::Fifo;
    } else if (S_ISLNK(st.st_mode)) {
        state.kind = Kind::Symlink;
        std::array<char, 4096> target{};
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n > 0) state.content = QByteArray(target.data(), n);
    } else if (S_ISREG(st.st_mode)) {
        state.kind = Kind::Regular;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            std::array<char, 4096> buffer{};
            ssize_t n = 0;
            while (static_cast<std::size_t>(state.content.size()) < kMostRead &&
                   (n = ::read(fd, buffer.data(), buffer.size())) > 0) {
                state.content.append(buffer.data(), n);
            }
            ::close(fd);
        }
    } else {
        state.kind = Kind::Other;
    }
    return state;
}

std::string PathState::describe() const {
    switch (kind) {
        case Kind::Absent:
            return "nothing";
        case Kind::Regular:
            return "a file holding \"" + content.left(200).toStdString() + "\"";
        case Kind::Directory:
            return "a directory";
        case Kind::Symlink:
            return "a link to " + content.toStdString();
        case Kind::Fifo:
            return "a fifo";
        case Kind::Other:
            return "something else";
    }
    return {};
}

int openDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

std::size_t memoryInUse() {
    if (__sanitizer_get_current_allocated_bytes != nullptr) {
        return __sanitizer_get_current_allocated_bytes();
    }
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    std::size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

bool runningAsRoot() {
    return ::geteuid() == 0;
}

std::uint64_t bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string name;
    std::uint64_t value = 0;
    while (io >> name >> value) {
        if (name == "rchar:") return value;
    }
    ADD_FAILURE() << "/proc/self/io tells no bytes read";
    return 0;
}

TinyDisk::TinyDisk(const QString& directory) : directory_(QFile::encodeName(directory)) {
    if (!runningAsRoot()) {
        whyNot_ = "mounting a tmpfs needs root";
        return;
    }
    if (::mkdir(directory_.c_str(), 0755) != 0 && errno != EEXIST) {
        whyNot_ = std::string("mkdir: ") + std::strerror(errno);
        return;
    }
    // Two pages: room for the exchange file and its next content, and little else.
    if (::mount("tmpfs", directory_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=8k,mode=0755") !=
        0) {
        whyNot_ = std::string("mount: ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

TinyDisk::~TinyDisk() {
    if (mounted_) ::umount2(directory_.c_str(), MNT_DETACH);
}

std::string TinyDisk::path(const char* name) const {
    return directory_ + '/' + name;
}

bool TinyDisk::fill() {
    const std::string filler = path("filler");
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::array<char, 512> block{};
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    const bool full = errno == ENOSPC;
    ::close(fd);
    return full;
}

void TinyDisk::emptyFiller() {
    ::unlink(path("filler").c_str());
}

bool TinyDisk::makeReadOnly() {
    return ::mount(nullptr, directory_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

bool TinyDisk::makeWritable() {
    return ::mount(nullptr, directory_.c_str(), nullptr, MS_REMOUNT, nullptr) == 0;
}

LoopRig::LoopRig(const QString& device, std::string exchangePath, FrameFeed* feed)
    : path(std::move(exchangePath)),
      pipeline(display, {.device = device,
                         .exchangePath = path,
                         .feed = feed,
                         .aroundPoll = [this](FramePoll& poll) { observedPoll(poll); },
                         .aroundYield = [this](PacedYield& paced) { yield(paced); }}) {
    QObject::connect(&comm, &MSComm::charactersRead, &comm, [this](const QByteArray& read) {
        readInPoll_ = read;
        everything += read;
        longestRead = std::max(longestRead, read.size());
    });
    // The device listens before the glove sends: what came before its open is dropped.
    comm.receive();
}

void LoopRig::run(int mostPasses, std::function<bool(int pass)> beforePass) {
    mostPasses_ = passes + mostPasses;
    beforePass_ = std::move(beforePass);
    loop.run();
}

void LoopRig::yield(PacedYield& paced) {
    display.barsAtPassEnd.push_back(display.bars);
    display.pass = ++passes;
    if (passes > mostPasses_ || !beforePass_(passes)) {
        loop.stop();
        return;
    }
    paced();
}

void LoopRig::observedPoll(FramePoll& poll) {
    if (!seenOnce_) {
        lastSeen_ = PathState::of(path);
        seenOnce_ = true;
    }
    const PathState before = strictExchange ? lastSeen_ : PathState::of(path);
    readInPoll_.reset();
    poll.run();
    // The control tells of reads that returned characters. An empty read leaves the port
    // open; a poll that never got to read leaves it closed.
    if (!readInPoll_ && comm.portOpen()) readInPoll_ = QByteArray();
    polls.push_back({display.pass, readInPoll_, PathState::of(path)});
    checkPoll(before, polls.back());
    lastSeen_ = polls.back().after;
}

void LoopRig::checkPoll(const PathState& before, const Poll& poll) {
    constexpr std::size_t kFaultsKept = 10;
    auto fault = [&](const std::string& what) {
        if (exchangeFaults.size() < kFaultsKept) {
            exchangeFaults.push_back("pass " + std::to_string(poll.pass) + ": " + what);
        }
    };
    if (poll.read && poll.read->size() > kFrameLength) {
        fault("a read returned " + std::to_string(poll.read->size()) + " bytes");
    }
    // Only what the poll itself wrote must be well-formed: a test may put anything there.
    if (poll.after.isFile() && !(poll.after == before)) {
        if (const auto formed = isWellFormedExchange(poll.after.content); !formed) {
            fault(formed.message());
        }
    }
    if (!strictExchange) return;
    const bool unchanged = poll.after == before;
    const bool wroteTheRead = poll.read && poll.read->size() == kFrameLength &&
                              poll.after.isFile() && poll.after.content == linesFor(*poll.read);
    const bool emptiedAfterEmptyRead =
        poll.read && poll.read->isEmpty() && poll.after.isFile() && poll.after.content.isEmpty();
    if (!unchanged && !wroteTheRead && !emptiedAfterEmptyRead) {
        fault("the poll read \"" + (poll.read ? poll.read->toHex(' ').toStdString() : "nothing") +
              "\" and left " + poll.after.describe() + " where " + before.describe() + " was");
    }
}

bool LoopRig::frameWasWritten(const QByteArray& frame) const {
    const QByteArray lines = linesFor(frame);
    return std::any_of(polls.begin(), polls.end(), [&](const Poll& poll) {
        return poll.after.isFile() && poll.after.content == lines;
    });
}

::testing::AssertionResult noExchangeFaults(const LoopRig& rig) {
    if (rig.exchangeFaults.empty()) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    for (const std::string& fault : rig.exchangeFaults) failure << fault << '\n';
    return failure;
}

QByteArray plainFrame(int seed) {
    // Value 2 at most 2 (no battery warning), value 4 at least 170 (no gesture); no 128
    // but the marker.
    const QList<int> values{
        128, seed % 3,       10 + seed % 100, 170 + seed % 50,    50 + seed % 70,
        60,  70 + seed % 50, seed % 100,      (seed / 100) % 100, (seed / 10'000) % 100};
    QByteArray frame;
    for (const int value : values) frame.append(static_cast<char>(value));
    return frame;
}

}  // namespace glove::fault
