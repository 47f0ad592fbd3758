#include "network/network_output.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <QRegularExpression>
#include <cstring>
#include <optional>
#include <thread>

#include "network/udp_socket.h"
#include "support/case_names.h"
#include "support/message_log.h"

namespace glove::network {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// A receiver nobody here wrote the sending side of: a plain socket on loopback.
class Listener {
  public:
    explicit Listener(int family = AF_INET, int port = 0)
        : fd_(::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_storage address{};
        socklen_t length = 0;
        if (family == AF_INET) {
            auto& v4 = reinterpret_cast<sockaddr_in&>(address);
            v4.sin_family = AF_INET;
            v4.sin_port = htons(port);
            v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof v4;
        } else {
            auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
            v6.sin6_family = AF_INET6;
            v6.sin6_port = htons(port);
            v6.sin6_addr = in6addr_loopback;
            length = sizeof v6;
        }
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length), 0);
        port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in&>(address).sin_port
                                        : reinterpret_cast<sockaddr_in6&>(address).sin6_port);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener() { ::close(fd_); }

    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] std::string at(const char* host) const {
        return host + ":"s + std::to_string(port_);
    }

    std::optional<std::string> receive(std::chrono::milliseconds wait = 1000ms) const {
        pollfd p{.fd = fd_, .events = POLLIN, .revents = 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) != 1) return std::nullopt;
        char buffer[2048];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n < 0 ? std::nullopt : std::optional(std::string(buffer, n));
    }

  private:
    int fd_ = -1;
    int port_ = 0;
};

// Written out by hand from the OSC encoding: address and type tags NUL-padded to four
// bytes, then big-endian 32-bit integers or a padded string.
std::string oscBytes(std::string address, std::string tags, const std::string& arguments) {
    auto padded = [](std::string s) { return s.append(4 - s.size() % 4, '\0'); };
    return padded(std::move(address)) + padded("," + std::move(tags)) + arguments;
}
std::string int32s(std::initializer_list<int> values) {
    std::string bytes;
    for (const int v : values) {
        for (const int shift : {24, 16, 8, 0}) bytes += static_cast<char>((v >> shift) & 0xff);
    }
    return bytes;
}

Receiver receiverTo(const Listener& listener, const char* host = "127.0.0.1") {
    return {"receiver", std::make_unique<UdpSocket>(resolveEndpoint(listener.at(host)))};
}

struct EndpointCase {
    const char* name;
    const char* value;
    int family;         // 0: refused
    const char* error;  // part of the message when refused
};

class Endpoints : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(Endpoints, ResolveOrSayWhyNot) {
    const EndpointCase& c = GetParam();
    if (c.family == 0) {
        try {
            resolveEndpoint(c.value);
            ADD_FAILURE() << c.value << " was taken";
        } catch (const BadEndpoint& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << "one line";
        }
        return;
    }
    const Endpoint endpoint = resolveEndpoint(c.value);
    EXPECT_EQ(endpoint.address.ss_family, c.family);
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(endpoint.address);
    EXPECT_EQ(ntohs(v4.sin_port), 9000) << "the port sits at the same place for both families";
}

INSTANTIATE_TEST_SUITE_P(
    Values, Endpoints,
    ::testing::Values(
        EndpointCase{"Ipv4Loopback", "127.0.0.1:9000", AF_INET, ""},
        EndpointCase{"HostName", "localhost:9000", AF_INET, ""},
        EndpointCase{"Ipv6Loopback", "[::1]:9000", AF_INET6, ""},
        EndpointCase{"Ipv6LinkLocalGroupWithInterface", "[ff02::1%lo]:9000", AF_INET6, ""},
        EndpointCase{"Ipv6SiteGroup", "[ff15::1]:9000", AF_INET6, ""},
        EndpointCase{"Ipv4Group", "239.255.0.1:9000", AF_INET, ""},
        EndpointCase{"Ipv4Broadcast", "255.255.255.255:9000", AF_INET, ""},
        EndpointCase{"Ipv6WithoutBrackets", "::1:9000", 0, "brackets"},
        EndpointCase{"NoColonAfterBrackets", "[::1]9000", 0, "[IPv6 address]:PORT"},
        EndpointCase{"UnclosedBracket", "[::1:9000", 0, "[IPv6 address]:PORT"},
        EndpointCase{"HostNameInBrackets", "[localhost]:9000", 0, "cannot resolve"},
        EndpointCase{"NoPort", "localhost", 0, "HOST:PORT"},
        EndpointCase{"NoHost", ":9000", 0, "host is missing"},
        EndpointCase{"PortZero", "localhost:0", 0, "1 to 65535"},
        EndpointCase{"PortAbove65535", "localhost:65536", 0, "1 to 65535"},
        EndpointCase{"EmptyPort", "localhost:", 0, "1 to 65535"},
        EndpointCase{"PortWithSign", "localhost:+80", 0, "1 to 65535"},
        EndpointCase{"PortWithLetter", "localhost:80x", 0, "1 to 65535"},
        EndpointCase{"HugePort", "localhost:99999999999", 0, "1 to 65535"},
        EndpointCase{"UnknownHost", "no-such-host.invalid:9000", 0, "cannot resolve"},
        EndpointCase{"Ipv6LinkLocalWithoutInterface", "[fe80::1]:9000", 0, "needs its interface"},
        EndpointCase{"Ipv6LinkLocalGroupWithoutInterface", "[ff02::1]:9000", 0,
                     "needs its interface"}),
    test::CaseName());

TEST(OscPrefix, TakesAddressesAndRefusesPatternsAndOddCharacters) {
    for (const char* good : {"/glove", "/left/hand", "/g-1_x.y"})
        EXPECT_TRUE(isOscPrefix(good)) << good;
    for (const char* bad : {"", "glove", "/", "/glove/", "/a b", "/a#", "/a*", "/a,b", "/a?", "/a[",
                            "/a]", "/a{", "/a}", "/a\tb", "/\xc3\xa9"}) {
        EXPECT_FALSE(isOscPrefix(bad)) << bad;
    }
    EXPECT_TRUE(isOscPrefix("/" + std::string(1023, 'a')));
    EXPECT_FALSE(isOscPrefix("/" + std::string(1024, 'a'))) << "no message would fit a datagram";
}

TEST(Streaming, EachFrameGoesToEveryReceiverInItsOwnForm) {
    Listener osc1;
    Listener osc2(AF_INET6);
    Listener udp;
    std::vector<Receiver> oscReceivers;
    oscReceivers.push_back(receiverTo(osc1));
    oscReceivers.push_back(receiverTo(osc2, "[::1]"));
    std::vector<Receiver> udpReceivers;
    udpReceivers.push_back(receiverTo(udp, "localhost"));
    NetworkOutput output("/hand", std::move(oscReceivers), std::move(udpReceivers));

    // A frame with two markers: OSC carries the frame, UDP every line the file gets.
    const std::vector<Frame> lines{{128, 3, 4, 5, 6, 128, 8, 9, 255, 0},
                                   {128, 8, 9, 255, 0, 128, 3, 4, 5, 6}};
    output.frameRead(lines);
    const std::string frame =
        oscBytes("/hand/frame", "iiiiiiiiii", int32s({128, 3, 4, 5, 6, 128, 8, 9, 255, 0}));
    EXPECT_EQ(osc1.receive(), frame);
    EXPECT_EQ(osc2.receive(), frame);
    EXPECT_EQ(udp.receive(), "128,3,4,5,6,128,8,9,255,0\r\n128,8,9,255,0,128,3,4,5,6\r\n");

    output.textShown(" No Device Found");
    const std::string status =
        oscBytes("/hand/status", "s", " No Device Found"s + '\0' + '\0' + '\0' + '\0');
    EXPECT_EQ(osc1.receive(), status);
    EXPECT_EQ(osc2.receive(), status);
    EXPECT_EQ(udp.receive(50ms), std::nullopt) << "status texts go to OSC receivers only";
}

std::string float32s(std::initializer_list<float> values) {
    std::string bytes;
    for (const float v : values) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &v, sizeof bits);
        for (const int shift : {24, 16, 8, 0}) bytes += static_cast<char>((bits >> shift) & 0xff);
    }
    return bytes;
}

TEST(Streaming, FlexFollowsEachFrameOnlyWithACalibrationInForce) {
    Listener osc;
    Listener udp;
    std::vector<Receiver> oscReceivers;
    oscReceivers.push_back(receiverTo(osc));
    std::vector<Receiver> udpReceivers;
    udpReceivers.push_back(receiverTo(udp));
    NetworkOutput output("/glove", std::move(oscReceivers), std::move(udpReceivers));
    calibration::Calibrator calibrator;
    output.useCalibration(calibrator);
    const std::vector<Frame> lines{{128, 1, 40, 60, 80, 100, 120, 140, 160, 250}};
    const std::string frame = oscBytes("/glove/frame", "iiiiiiiiii",
                                       int32s({128, 1, 40, 60, 80, 100, 120, 140, 160, 250}));
    output.frameRead(lines);
    EXPECT_EQ(osc.receive(), frame);
    EXPECT_EQ(osc.receive(50ms), std::nullopt) << "no calibration, no flex";

    calibrator.setInForce(
        calibration::parseRanges("0-2 20-60 60-160 0-255 100-200 0-240 40-240 60-160 0-200"));
    output.frameRead(lines);
    EXPECT_EQ(osc.receive(), frame);
    EXPECT_EQ(osc.receive(),
              oscBytes("/glove/flex", "fffffffff",
                       float32s({-1.0F, 0.5F, 0.0F, 80.0F / 255, 0.0F, 0.5F, 0.5F, 1.0F, 1.0F})));
    EXPECT_EQ(udp.receive(), "128,1,40,60,80,100,120,140,160,250\r\n");
    EXPECT_EQ(udp.receive(), "128,1,40,60,80,100,120,140,160,250\r\n") << "UDP stays raw";
}

// The strings of the messages to `address` among those waiting at `listener`.
std::vector<std::string> stringsTo(const Listener& listener, const std::string& address) {
    std::vector<std::string> strings;
    const std::string head = oscBytes(address, "s", "");
    while (const auto message = listener.receive(50ms)) {
        if (message->starts_with(head)) strings.emplace_back(message->c_str() + head.size());
    }
    return strings;
}

TEST(Streaming, PostureGoesOutWhenItChangesAndOnceASecondWhileItHolds) {
    Listener osc;
    std::vector<Receiver> oscReceivers;
    oscReceivers.push_back(receiverTo(osc));
    NetworkOutput output("/hand", std::move(oscReceivers), {});
    calibration::Calibrator calibrator;
    posture::PostureWatch watch(calibrator);
    output.usePostures(watch);
    const auto play = [&](int raw, int frames) {
        const Frame frame{128, raw, raw, raw, raw, raw, raw, raw, raw, raw};
        for (int i = 0; i < frames; ++i) {
            watch.frameRead(std::span(&frame, 1));
            output.frameRead(std::span(&frame, 1));
        }
    };
    play(51, 5);
    EXPECT_EQ(stringsTo(osc, "/hand/posture"), std::vector<std::string>{})
        << "nothing without postures";

    posture::PostureSet set;
    posture::Values fist{};
    fist.fill(0.2F);
    ASSERT_EQ(set.add({"fist", fist}), "");
    watch.setPostures(set);
    play(128, 1);
    EXPECT_EQ(stringsTo(osc, "/hand/posture"), std::vector<std::string>{"none"});
    play(51, 10);
    EXPECT_EQ(stringsTo(osc, "/hand/posture"), std::vector<std::string>{"fist"})
        << "once, when it has held three frames";
    std::this_thread::sleep_for(NetworkOutput::kPostureRepeat);
    play(51, 2);
    EXPECT_EQ(stringsTo(osc, "/hand/posture"), std::vector<std::string>{"fist"});
    play(51, 3);
    EXPECT_EQ(stringsTo(osc, "/hand/posture"), std::vector<std::string>{}) << "no change";
    watch.setPostures(posture::PostureSet{});
    play(51, 3);
    EXPECT_EQ(stringsTo(osc, "/hand/posture"), std::vector<std::string>{"none"})
        << "the posture held is gone with the last one";
    std::this_thread::sleep_for(NetworkOutput::kPostureRepeat);
    play(51, 3);
    EXPECT_EQ(stringsTo(osc, "/hand/posture"), std::vector<std::string>{})
        << "nothing once none is learnt";
}

class Group : public ::testing::TestWithParam<const char*> {};

// The socket options these need: without them the kernel refuses or keeps it off this host.
TEST_P(Group, ReachesAListenerOnThisMachine) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{.sin_family = AF_INET, .sin_port = 0, .sin_addr = {INADDR_ANY}, .sin_zero = {}};
    socklen_t length = sizeof any;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&any), length), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&any), &length), 0);
    ip_mreq join{};
    ::inet_pton(AF_INET, "239.255.0.1", &join.imr_multiaddr);
    ASSERT_EQ(::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join), 0);
    test::MessageLog log;
    const std::string to = GetParam() + ":"s + std::to_string(ntohs(any.sin_port));
    Receiver receiver(to, std::make_unique<UdpSocket>(resolveEndpoint(to)));
    receiver.send("hello"s, Receiver::Clock::now());
    pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
    char buffer[16] = {};
    EXPECT_TRUE(::poll(&p, 1, 1000) == 1 && ::recv(fd, buffer, sizeof buffer, 0) == 5 &&
                std::string(buffer) == "hello")
        << log.text().toStdString();
    ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Addresses, Group, ::testing::Values("255.255.255.255", "239.255.0.1"),
                         test::CaseName());

TEST(Streaming, AbsentReceiverIsReportedOncePerEpisodeAndMissesNothingOnceBack) {
    test::MessageLog log;
    int port = 0;
    {
        const Listener probe;  // a port that was free a moment ago
        port = probe.port();
    }
    Receiver receiver(
        "OSC receiver 127.0.0.1:" + std::to_string(port),
        std::make_unique<UdpSocket>(resolveEndpoint("127.0.0.1:" + std::to_string(port))));
    const auto start = Receiver::Clock::now();
    for (int i = 0; i < 20; ++i) {
        receiver.send("x"s, start + i * 20ms);
        std::this_thread::sleep_for(1ms);  // for the port-unreachable reply to come back
    }
    EXPECT_EQ(log.count("Connection refused"), 1) << log.text().toStdString();

    const Listener back(AF_INET, port);
    auto later = start + 400ms;
    receiver.send("first"s, later);
    EXPECT_EQ(back.receive(), "first") << "the datagram after the receiver starts arrives";
    receiver.send("second"s, later + Receiver::kQuietToRecover - 1ms);
    EXPECT_EQ(log.count("sending again"), 0) << "not before it has been quiet long enough";
    receiver.send("third"s, later + Receiver::kQuietToRecover);
    EXPECT_EQ(log.count("sending again"), 1);
    EXPECT_EQ(back.receive(), "second");
    EXPECT_EQ(back.receive(), "third");
    EXPECT_EQ(receiver.dropped(), 0U);
}

TEST(Streaming, FullSocketDropsAndCountsAndTheEndReportsTheCount) {
    test::MessageLog log;
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, pair), 0);
    const int reader = pair[1];
    {
        std::vector<Receiver> udp;
        udp.emplace_back("UDP receiver slow", std::make_unique<UdpSocket>(pair[0]));
        NetworkOutput output("/glove", {}, std::move(udp));
        const Frame frame{128, 1, 2, 3, 4, 5, 6, 7, 8, 9};
        // Nobody reads: the peer's queue fills and sends would block, which must not stall us.
        for (int i = 0; i < 2000; ++i) output.frameRead(std::span(&frame, 1));
        EXPECT_EQ(log.count("dropped"), 0) << "drops are counted quietly while running";
    }
    ::close(reader);
    EXPECT_EQ(log.count("glove-monitor: UDP receiver slow: "), 1) << log.text().toStdString();
    EXPECT_TRUE(log.text().contains(QRegularExpression(" [1-9][0-9]* datagrams dropped")));
}

}  // namespace
}  // namespace glove::network
