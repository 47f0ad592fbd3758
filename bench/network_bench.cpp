// Measures the network output on loopback: the real window, poll and Connect loop, fed by
// counted frames at the glove's pace, streaming to two OSC receivers and one UDP receiver.
// Reports frames received of frames sent per receiver, the latency from a frame's last byte
// on the line to its datagram's arrival, and the CPU cost of one frame's sends.
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "bench_support.h"
#include "network/network_output.h"
#include "window/glove_window.h"

namespace {

using bench::Clock;
using bench::threadCpuSeconds;
using glove::Frame;

constexpr int kReceivers = 3;  // two OSC, then one UDP
constexpr std::array<const char*, kReceivers> kNames{"OSC receiver 1", "OSC receiver 2",
                                                     "UDP receiver"};

// Three sockets on loopback and a thread that takes every datagram as it comes, noting the
// frame it carries and when it arrived.
class Receivers {
  public:
    Receivers() {
        for (int i = 0; i < kReceivers; ++i) {
            fds_[i] = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{.sin_family = AF_INET,
                                .sin_port = 0,
                                .sin_addr = {htonl(INADDR_LOOPBACK)},
                                .sin_zero = {}};
            socklen_t length = sizeof address;
            ::bind(fds_[i], reinterpret_cast<sockaddr*>(&address), length);
            ::getsockname(fds_[i], reinterpret_cast<sockaddr*>(&address), &length);
            ports_[i] = ntohs(address.sin_port);
        }
        ::pipe(stop_);
        thread_ = std::thread([this] { receive(); });
    }
    ~Receivers() {
        (void)::write(stop_[1], "x", 1);
        thread_.join();
        for (const int fd : fds_) ::close(fd);
        ::close(stop_[0]);
        ::close(stop_[1]);
    }

    [[nodiscard]] std::string endpoint(int i) const {
        return "127.0.0.1:" + std::to_string(ports_[i]);
    }
    // (counter, arrival) of each frame datagram, per receiver.
    [[nodiscard]] std::vector<std::pair<std::uint32_t, Clock::time_point>> frames(int i) {
        const std::lock_guard lock(mutex_);
        return frames_[i];
    }
    void clear() {
        const std::lock_guard lock(mutex_);
        for (auto& f : frames_) f.clear();
    }

  private:
    void receive() {
        std::array<pollfd, kReceivers + 1> polls{};
        for (int i = 0; i < kReceivers; ++i) polls[i] = {fds_[i], POLLIN, 0};
        polls[kReceivers] = {stop_[0], POLLIN, 0};
        std::array<char, 2048> buffer{};
        while (::poll(polls.data(), polls.size(), -1) > 0 && !polls[kReceivers].revents) {
            for (int i = 0; i < kReceivers; ++i) {
                if (!polls[i].revents) continue;
                const ssize_t n = ::recv(fds_[i], buffer.data(), buffer.size(), 0);
                const auto at = Clock::now();
                const std::optional<Frame> frame =
                    i < 2 ? oscFrame(buffer.data(), n) : udpFrame(buffer.data(), n);
                if (!frame) continue;
                const std::lock_guard lock(mutex_);
                frames_[i].emplace_back(bench::counterOf(*frame), at);
            }
        }
    }

    // /glove/frame with ten int32: 16 bytes of address, 12 of type tags, then the values.
    static std::optional<Frame> oscFrame(const char* data, ssize_t size) {
        constexpr char kAddress[] = "/glove/frame";
        if (size != 68 || std::memcmp(data, kAddress, sizeof kAddress) != 0) return std::nullopt;
        Frame frame{};
        for (std::size_t k = 0; k < frame.size(); ++k) {
            std::uint32_t value = 0;
            std::memcpy(&value, data + 28 + 4 * k, 4);
            frame[k] = static_cast<int>(ntohl(value));
        }
        return frame;
    }
    static std::optional<Frame> udpFrame(const char* data, ssize_t size) {
        Frame frame{};
        const QList<QByteArray> values = QByteArray(data, size).split('\r').first().split(',');
        if (values.size() != frame.size()) return std::nullopt;
        for (std::size_t k = 0; k < frame.size(); ++k) frame[k] = values[k].toInt();
        return frame;
    }

    std::array<int, kReceivers> fds_{};
    std::array<int, kReceivers> ports_{};
    int stop_[2] = {-1, -1};
    std::mutex mutex_;
    std::array<std::vector<std::pair<std::uint32_t, Clock::time_point>>, kReceivers> frames_;
    std::thread thread_;
};

// Passes the poll's frames on to the network output, noting which ones it fed and when.
class CountingFeed final : public glove::FrameFeed {
  public:
    explicit CountingFeed(glove::FrameFeed& next) : next_(next) {}
    void frameRead(std::span<const Frame> lines) noexcept override {
        fed.emplace(bench::counterOf(lines.front()), Clock::now());
        next_.frameRead(lines);
    }
    std::map<std::uint32_t, Clock::time_point> fed;

  private:
    glove::FrameFeed& next_;
};

glove::network::NetworkSettings settingsFor(const Receivers& receivers) {
    glove::network::NetworkSettings settings;
    for (int i = 0; i < kReceivers; ++i) {
        auto& list = i < 2 ? settings.osc : settings.udp;
        list.push_back(glove::network::resolveEndpoint(receivers.endpoint(i)));
    }
    return settings;
}

// One frame's sends, many times over: CPU microseconds per frame.
double microsecondsPerFrame(glove::network::NetworkOutput& output, bool withStatus) {
    constexpr int kRounds = 20000;
    Frame frame{128, 1, 200, 150, 180, 100, 0, 0, 0, 0};
    const double before = threadCpuSeconds();
    for (int i = 0; i < kRounds; ++i) {
        frame[9] = i % 128;
        output.frameRead(std::span(&frame, 1));
        if (withStatus)
            output.textShown("128  1  200  150  180  100  0  0  0  " + std::to_string(i % 128));
        // At most a frame's datagrams in flight, as at the glove's pace, so none is dropped.
        if (i % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return (threadCpuSeconds() - before) * 1e6 / kRounds;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QCommandLineOption framesOption = bench::framesOption("stream");
    QCommandLineParser parser;
    bench::parseCommandLine(parser, app, "Glove Monitor network output benchmark", {framesOption});
    const int frames = parser.value(framesOption).toInt();
    if (frames <= 0) {
        std::fputs("network_bench: --frames must be positive\n", stderr);
        return 2;
    }

    Receivers receivers;
    glove::network::NetworkOutput output(settingsFor(receivers));

    const double frameOnly = microsecondsPerFrame(output, false);
    const double withStatus = microsecondsPerFrame(output, true);
    receivers.clear();

    glove::test::Pty pty;
    QTemporaryDir dir;
    CountingFeed feed(output);
    glove::GloveWindow window(
        {.device = pty.path(),
         .exchangePath = QFile::encodeName(dir.filePath("InputFile")).toStdString(),
         .endProgram = [] {},
         .feed = &feed,
         .textShown = [&output](const QString& text) { output.textShown(text.toStdString()); }});
    window.show();
    bench::Glove glove(pty, frames);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!glove.done()) return;
        watch.stop();
        QTimer::singleShot(200, [&] { window.Exit_Click(); });
    });
    watch.start(50);
    glove.start();
    window.Command1_Click();  // the Connect loop, until Exit
    glove.join();

    const auto fed = static_cast<double>(std::ranges::count_if(
        feed.fed, [&](const auto& f) { return f.first < static_cast<std::uint32_t>(frames); }));
    std::printf("Glove frames sent: %d; read whole by the poll and sent on: %.0f\n\n", frames, fed);
    std::printf(
        "| receiver | frames received of sent | from the line: p50 / p99 (ms) | "
        "from the poll: p50 / p99 (ms) |\n");
    std::printf("|---|---|---|---|\n");
    bool all = true;
    for (int i = 0; i < kReceivers; ++i) {
        std::set<std::uint32_t> seen;
        std::vector<double> latencies;
        std::vector<double> network;  // from the poll's hand-over to arrival
        for (const auto& [counter, at] : receivers.frames(i)) {
            if (!feed.fed.contains(counter) || counter >= static_cast<std::uint32_t>(frames) ||
                !seen.insert(counter).second) {
                continue;
            }
            latencies.push_back(
                std::chrono::duration<double, std::milli>(at - glove.sentAt(counter)).count());
            network.push_back(
                std::chrono::duration<double, std::milli>(at - feed.fed.at(counter)).count());
        }
        std::printf("| %s | %zu of %.0f (%.1f %%) | %.2f / %.2f | %.2f / %.2f |\n", kNames[i],
                    seen.size(), fed, 100.0 * static_cast<double>(seen.size()) / fed,
                    bench::percentile(latencies, 50), bench::percentile(latencies, 99),
                    bench::percentile(network, 50), bench::percentile(network, 99));
        all = all && !seen.empty();
    }
    std::printf(
        "\nOne frame's sends to two OSC and one UDP receiver: %.1f us of CPU, x 48 a second = "
        "%.3f %% of a core\n",
        frameOnly, frameOnly * 48 / 1e4);
    std::printf(
        "The same with the status text to both OSC receivers: %.1f us, x 48 a second = "
        "%.3f %% of a core\n",
        withStatus, withStatus * 48 / 1e4);
    return all ? 0 : 1;
}
