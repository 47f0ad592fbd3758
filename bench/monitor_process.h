#pragma once

// What the benchmarks that run the real glove-monitor on a virtual X server share: starting a
// process, pressing Connect on the monitor's window, and a UDP socket on loopback for its
// outputs. Each throws std::runtime_error saying what failed.
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace bench {

// Starts `args`, its standard error going to `stderrPath` and, when `stdoutFd` is given, its
// standard output to that descriptor.
inline pid_t spawn(const std::vector<std::string>& args, const std::filesystem::path& stderrPath,
                   int stdoutFd = -1) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + args[0]);
    return pid;
}

// What a shell command prints; empty when it cannot be run.
inline std::string commandOutput(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        std::array<char, 256> chunk{};
        while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) out += chunk.data();
        ::pclose(pipe);
    }
    return out;
}

inline bool holdsOpen(pid_t pid, const std::string& path) {
    std::error_code error;
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        if (std::filesystem::read_symlink(fd.path(), error) == path) return true;
    }
    return false;
}

// Presses Connect on the monitor's window, and waits until the monitor has `line` (the
// device's own path, not a link to it) open.
inline void pressConnect(pid_t monitor, const std::string& line) {
    using namespace std::chrono_literals;
    using Clock = std::chrono::steady_clock;
    std::string window;
    for (const auto until = Clock::now() + 20s; window.empty() && Clock::now() < until;) {
        window = commandOutput(
            "timeout 5 xdotool search --onlyvisible --name 'Wireless VR Glove' 2>/dev/null | "
            "head -n1");
        while (!window.empty() && window.back() == '\n') window.pop_back();
        if (window.empty()) std::this_thread::sleep_for(50ms);
    }
    if (window.empty()) throw std::runtime_error("the monitor's window did not appear");
    commandOutput("xdotool windowraise " + window + " mousemove --window " + window +
                  " 156 188 click 1");
    for (const auto until = Clock::now() + 10s; Clock::now() < until;) {
        if (holdsOpen(monitor, line)) return;
        std::this_thread::sleep_for(20ms);
    }
    throw std::runtime_error("Connect did not open " + line);
}

// A UDP socket on 127.0.0.1 at a free port, which is put in `port`.
inline int boundUdpSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("no UDP socket");
    }
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace bench
