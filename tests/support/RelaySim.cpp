#include "RelaySim.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

int DecodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// Starts the simulator with stdout on a pipe; returns its pid and the read
// end of the pipe. posix_spawn keeps this safe in a process with threads.
pid_t Spawn(const std::vector<std::string>& args, int& stdoutFd)
{
    // The simulator ends with this process, also when a test dies.
    setenv("RELAY_SIM_DIE_WITH_PARENT", "1", 0);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));

    std::vector<std::string> all{RELAY_SIM_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);

    // The child starts with no signal blocked and the stop signals at their
    // defaults, whatever the test process has set for itself.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, RELAY_SIM_PATH, &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error(std::string("cannot start " RELAY_SIM_PATH ": ") + std::strerror(rc));
    }
    stdoutFd = fds[0];
    return pid;
}

// Waits for `pid` up to timeoutMs; returns the raw wait status or -1.
int WaitFor(pid_t pid, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 && errno != EINTR)
            return -1;
        if (Clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Reads `fd` until end of file or until `stopAtNewline` finds a line end.
bool ReadOutput(int fd, std::string& out, Clock::time_point deadline, bool stopAtNewline)
{
    for (;;) {
        if (stopAtNewline && out.find('\n') != std::string::npos)
            return true;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, MsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !stopAtNewline;
        out.append(buf, size_t(n));
    }
}

// The TCP port of "SCHEME://127.0.0.1:PORT", or -1 if `endpoint` is not one.
int EndpointPort(const std::string& endpoint)
{
    const auto scheme = endpoint.find("://");
    const auto colon = endpoint.rfind(':');
    if (scheme == std::string::npos || colon == std::string::npos || colon <= scheme + 3)
        return -1;
    try {
        return std::stoi(endpoint.substr(colon + 1));
    } catch (const std::exception&) {
        return -1;
    }
}

// A non-blocking connection to 127.0.0.1:port, or -1.
int ConnectLocal(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(uint16_t(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // a request leaves in one segment
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

} // namespace

uint16_t ModbusCrc(const uint8_t* data, size_t count)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

// ---------------------------------------------------------------- RelaySim

RelaySim::RelaySim(const std::vector<std::string>& args, int startTimeoutMs)
{
    int outFd = -1;
    pid_ = Spawn(args, outFd);
    std::string out;
    const bool gotLine = ReadOutput(outFd, out, Clock::now() + std::chrono::milliseconds(startTimeoutMs), true);
    ::close(outFd);
    if (!gotLine) {
        const int status = stop();
        throw std::runtime_error("relay-sim did not report its pty or endpoint (exit status " + std::to_string(status)
                                 + ")");
    }
    path_ = out.substr(0, out.find('\n'));
    // A simulator that paces keeps the wire's time even on its pty, so the
    // line's timing rule judges its answers; one that does not pace hands them
    // on sooner than a wire could carry them, so the rule must not.
    const bool paced = std::find(args.begin(), args.end(), "--no-pace") == args.end();
    ::setenv("ZASHCHITA_LINE_TIMING", paced ? "on" : "off", 1);
}

RelaySim::~RelaySim()
{
    stop();
}

int RelaySim::port() const
{
    return EndpointPort(path_);
}

bool RelaySim::running()
{
    return waitExit(0) < 0;
}

int RelaySim::waitExit(int timeoutMs)
{
    if (pid_ < 0)
        return status_;
    const int raw = WaitFor(pid_, timeoutMs);
    if (raw < 0)
        return -1;
    status_ = DecodeStatus(raw);
    pid_ = -1;
    return status_;
}

int RelaySim::stop()
{
    if (pid_ < 0)
        return status_;
    kill(pid_, SIGTERM);
    if (waitExit(5000) >= 0)
        return status_;
    kill(pid_, SIGKILL);
    return waitExit(5000);
}

int RelaySim::runToEnd(const std::vector<std::string>& args, std::string* out, int timeoutMs)
{
    int outFd = -1;
    const pid_t pid = Spawn(args, outFd);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string text;
    ReadOutput(outFd, text, deadline, false);
    ::close(outFd);
    int raw = WaitFor(pid, MsLeft(deadline));
    if (raw < 0) {
        kill(pid, SIGKILL);
        WaitFor(pid, 5000);
        return -1;
    }
    if (out)
        *out = text;
    return DecodeStatus(raw);
}

std::map<int, int> RelaySim::dumpRegisters(const std::vector<std::string>& args)
{
    std::vector<std::string> all = args;
    all.push_back("--dump");
    std::string text;
    const int status = runToEnd(all, &text);
    if (status != 0)
        throw std::runtime_error("relay-sim --dump ended with status " + std::to_string(status));
    std::map<int, int> regs;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            regs[std::stoi(line.substr(0, eq))] = std::stoi(line.substr(eq + 1));
    }
    return regs;
}

std::vector<uint8_t> RelaySim::withCrc(std::vector<uint8_t> frame)
{
    const uint16_t crc = ModbusCrc(frame.data(), frame.size());
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

std::vector<uint8_t> RelaySim::readRequest(uint8_t slave, uint16_t first, uint16_t count)
{
    return withCrc({slave, 3, uint8_t(first >> 8), uint8_t(first), uint8_t(count >> 8), uint8_t(count)});
}

std::vector<uint8_t> RelaySim::writeRequest(uint8_t slave, uint16_t reg, uint16_t value)
{
    return withCrc({slave, 6, uint8_t(reg >> 8), uint8_t(reg), uint8_t(value >> 8), uint8_t(value)});
}

// ----------------------------------------------------------------- SimLine

SimLine::SimLine(const std::string& path, bool discardWaiting)
{
    if (const int port = EndpointPort(path); port >= 0) {
        fd_ = ConnectLocal(port);
        socket_ = true;
        return;
    }
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return;
    termios t{};
    if (tcgetattr(fd_, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        tcsetattr(fd_, TCSANOW, &t);
    }
    if (discardWaiting)
        tcflush(fd_, TCIFLUSH);
}

SimLine::~SimLine()
{
    close();
}

void SimLine::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool SimLine::write(const std::vector<uint8_t>& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = socket_ ? ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL)
                                  : ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

std::vector<std::vector<uint8_t>> SimLine::readPieces(size_t count, int timeoutMs)
{
    std::vector<std::vector<uint8_t>> pieces;
    size_t got = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0 && got < count) {
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, MsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        std::vector<uint8_t> piece(count - got);
        const ssize_t n = ::read(fd_, piece.data(), piece.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break; // hang-up
        piece.resize(size_t(n));
        got += piece.size();
        pieces.push_back(std::move(piece));
    }
    return pieces;
}

std::vector<uint8_t> SimLine::read(size_t count, int timeoutMs)
{
    std::vector<uint8_t> all;
    for (auto& piece : readPieces(count, timeoutMs))
        all.insert(all.end(), piece.begin(), piece.end());
    return all;
}

std::vector<uint8_t> SimLine::readUntilQuiet(int quietMs, int timeoutMs)
{
    std::vector<uint8_t> all;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0) {
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, std::min(quietMs, MsLeft(deadline)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        uint8_t buf[512];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        all.insert(all.end(), buf, buf + n);
    }
    return all;
}

std::vector<uint8_t> SimLine::transact(const std::vector<uint8_t>& request, size_t replyLength, int timeoutMs)
{
    if (!write(request))
        return {};
    return read(replyLength, timeoutMs);
}
