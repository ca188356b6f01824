// Starts the relay simulator for a test and talks to it over its pty.
//
//   RelaySim sim({"--no-pace", "--freeze"});
//   SimLine line(sim.path());
//   line.write(RelaySim::readRequest(1, 50, 29));
//   auto reply = line.read(63, 3000);
//
// The relay's clock (registers 67..71) starts from the host's local time, so
// a test that compares a read with dumpRegisters() pins it with --set.
//
// With --tcp 0 or --modbus-tcp 0 the simulator serves on a free port of
// 127.0.0.1; path() is then its endpoint ("tcp://127.0.0.1:PORT"), and a
// SimLine given that endpoint connects to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// Modbus CRC-16 (reflected polynomial 0xA001, start 0xFFFF); goes on the
// wire low byte first.
uint16_t ModbusCrc(const uint8_t* data, size_t count);

class RelaySim {
public:
    // Runs the simulator with `args` and waits (at most startTimeoutMs) for
    // the pty path or TCP endpoint on its first line. Throws
    // std::runtime_error if it does not come.
    explicit RelaySim(const std::vector<std::string>& args = {}, int startTimeoutMs = 10000);
    ~RelaySim();
    RelaySim(const RelaySim&) = delete;
    RelaySim& operator=(const RelaySim&) = delete;

    const std::string& path() const { return path_; }
    const std::string& endpoint() const { return path_; }

    // The TCP port of an endpoint "SCHEME://127.0.0.1:PORT", or -1 for a pty.
    int port() const;
    pid_t pid() const { return pid_; }

    // True while the process has not ended.
    bool running();

    // SIGTERM, then waits for the end (SIGKILL after 5 s). Returns the exit
    // status (128 + signal if killed). Safe to call again.
    int stop();

    // Waits for the simulator to end on its own (--gone-after). Returns the
    // exit status, or -1 if it is still running after timeoutMs.
    int waitExit(int timeoutMs);

    // The 256 registers as the simulator starts with `args` (built-in
    // content and --set), via --dump.
    static std::map<int, int> dumpRegisters(const std::vector<std::string>& args = {});

    // Runs the simulator to its end with `args`, collecting stdout. Returns the
    // exit status, or -1 if it ran longer than timeoutMs (it is then killed).
    static int runToEnd(const std::vector<std::string>& args, std::string* out = nullptr, int timeoutMs = 10000);

    // Request frames with their CRC.
    static std::vector<uint8_t> readRequest(uint8_t slave, uint16_t first, uint16_t count);
    static std::vector<uint8_t> writeRequest(uint8_t slave, uint16_t reg, uint16_t value);
    static std::vector<uint8_t> withCrc(std::vector<uint8_t> frame);

private:
    pid_t pid_ = -1;
    int status_ = -1; // exit status once reaped
    std::string path_;
};

// The master's end of the line for tests that talk to the simulator
// directly: raw 9600 8N1, non-blocking reads with a deadline. Given a TCP
// endpoint, a connection to it with the same reads and writes.
class SimLine {
public:
    // Opens `path` and throws away anything already waiting on it, unless
    // `discardWaiting` is false (as libmodbus opens a port: what the line
    // holds is then read as the start of the next reply). A TCP endpoint
    // is connected to instead. isOpen() tells whether that worked.
    explicit SimLine(const std::string& path, bool discardWaiting = true);
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void close();

    bool write(const std::vector<uint8_t>& bytes);

    // Collects until `count` bytes are in or timeoutMs has passed; returns
    // what came (fewer bytes on time-out, hang-up or a closed connection).
    std::vector<uint8_t> read(size_t count, int timeoutMs);

    // The same, keeping apart the bytes of each read() call, to show how a
    // reply was split on its way.
    std::vector<std::vector<uint8_t>> readPieces(size_t count, int timeoutMs);

    // Everything that arrives until the line has been quiet for quietMs.
    std::vector<uint8_t> readUntilQuiet(int quietMs, int timeoutMs = 5000);

    // Sends `request` and collects a reply of `replyLength` bytes.
    std::vector<uint8_t> transact(const std::vector<uint8_t>& request, size_t replyLength, int timeoutMs = 3000);

private:
    int fd_ = -1;
    bool socket_ = false; // a TCP connection: writes must not raise SIGPIPE
};
