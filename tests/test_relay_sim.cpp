// The relay simulator seen from the master's end of its pty.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ZashchitaVersion.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool CrcOk(const Bytes& frame)
{
    if (frame.size() < 3)
        return false;
    const uint16_t crc = ModbusCrc(frame.data(), frame.size() - 2);
    return frame[frame.size() - 2] == uint8_t(crc) && frame[frame.size() - 1] == uint8_t(crc >> 8);
}

// Register k of a read reply.
int Reg(const Bytes& reply, int k)
{
    return (reply[size_t(3 + 2 * k)] << 8) | reply[size_t(4 + 2 * k)];
}

// The relay's clock starts from the host's; tests that compare reads with a
// dump of another process pin it.
std::vector<std::string> PinnedClock(std::vector<std::string> args)
{
    for (const char* r : {"67=3", "68=15", "69=10", "70=20", "71=30"}) {
        args.push_back("--set");
        args.push_back(r);
    }
    return args;
}

void Pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string TempDir()
{
    std::string pattern = "/tmp/relay-sim-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return "/tmp";
    return pattern;
}

const Bytes kCurrentParams = RelaySim::readRequest(1, 50, 29);

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysIn(int month, int year)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : days[month - 1];
}

// The moment of an event record or of the relay's clock.
struct Moment {
    int month, day, hour, minute, second;

    int fieldsOutOfRange() const
    {
        return int(month < 1 || month > 12) + int(day < 1 || day > 31) + int(hour > 23) + int(minute > 59)
            + int(second > 59);
    }
    bool inRange() const { return fieldsOutOfRange() == 0; }
    bool existsIn(int year) const { return inRange() && day <= DaysIn(month, year); }
    bool existsInEveryYear() const { return existsIn(2023) && existsIn(2024); }
    bool existsInNoYear() const { return !existsIn(2023) && !existsIn(2024); }

    // Local time of this moment in `year`.
    time_t inYear(int year) const
    {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        tm.tm_isdst = -1;
        return mktime(&tm);
    }
    bool operator==(const Moment&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Moment& m)
{
    return out << m.month << "-" << m.day << " " << m.hour << ":" << m.minute << ":" << m.second;
}

Moment RecordMoment(const std::map<int, int>& regs, int record)
{
    const int first = 128 + 17 * (record - 1);
    return Moment{regs.at(first), regs.at(first + 1), regs.at(first + 2), regs.at(first + 3), regs.at(first + 4)};
}

} // namespace

TEST(RelaySimCrc, CheckValueAndKnownFrames)
{
    const std::string text = "123456789";
    EXPECT_EQ(ModbusCrc(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0x4B37);
    EXPECT_EQ(kCurrentParams, (Bytes{0x01, 0x03, 0x00, 0x32, 0x00, 0x1D, 0x24, 0x0C}));
    EXPECT_EQ(RelaySim::writeRequest(1, 67, 12), (Bytes{0x01, 0x06, 0x00, 0x43, 0x00, 0x0C, 0x78, 0x1B}));
}

// ------------------------------------------------------------------ content

TEST(RelaySimContent, LooksLikeARunningMotor)
{
    auto regs = RelaySim::dumpRegisters({"--slave", "7"});
    ASSERT_EQ(regs.size(), 256u);
    for (int r : {50, 51, 52})
        EXPECT_TRUE(regs[r] >= 80 && regs[r] <= 100) << "phase current " << r << " = " << regs[r];
    EXPECT_TRUE(regs[60] >= 380 && regs[60] <= 400) << regs[60];
    EXPECT_GT(regs[53], 0);
    EXPECT_EQ(regs[66] & 0x0C00, 0x0C00); // motor on, start finished
    EXPECT_EQ(regs[80], 7);               // its own slave address
    EXPECT_GT(regs[108], 0);
    for (int r : {96, 97, 107})
        EXPECT_NE(regs[r], 0) << "mask " << r;

    for (int n = 0; n < 4; ++n) {
        const int first = 128 + 17 * n;
        SCOPED_TRACE("record " + std::to_string(n + 1));
        EXPECT_NE(regs[first + 5], 0);        // some status bit
        EXPECT_GT(regs[first + 6], 0);        // a current
        EXPECT_TRUE(regs[first + 14] >= 300); // supply voltage
    }
}

TEST(RelaySimContent, RecordMomentsTryTheDateHandling)
{
    const auto regs = RelaySim::dumpRegisters();
    const Moment r1 = RecordMoment(regs, 1), r2 = RecordMoment(regs, 2), r3 = RecordMoment(regs, 3),
                 r4 = RecordMoment(regs, 4);

    // Record 1 lies later in the year than now (but for the year's last
    // seconds): read with this year it is in the future.
    {
        SCOPED_TRACE("record 1");
        EXPECT_TRUE(r1.inRange());
        EXPECT_TRUE(r1.existsInEveryYear());
        const time_t now = time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        const time_t thisYear = r1.inYear(local.tm_year + 1900);
        const bool lastSeconds = local.tm_mon == 11 && local.tm_mday == 31 && local.tm_hour == 23
            && local.tm_min == 59 && local.tm_sec >= 58;
        if (!lastSeconds) {
            EXPECT_GT(thisYear, now);
        }
        EXPECT_EQ(r1, (Moment{12, 31, 23, 59, 58}));
    }
    {
        SCOPED_TRACE("record 2");
        EXPECT_TRUE(r2.inRange());
        EXPECT_TRUE(r2.existsInNoYear());
        EXPECT_EQ(r2, (Moment{2, 30, 8, 15, 42}));
    }
    {
        SCOPED_TRACE("record 3");
        EXPECT_EQ(r3.fieldsOutOfRange(), 1);
        EXPECT_EQ(r3, (Moment{10, 14, 24, 17, 36}));
    }
    {
        SCOPED_TRACE("record 4");
        EXPECT_TRUE(r4.inRange());
        EXPECT_TRUE(r4.existsInEveryYear());
        const int status = regs.at(179 + 5);
        EXPECT_EQ(status & 0x8001, 0x8001);
        EXPECT_NE(status & 0x7FFE, 0) << "a bit besides the two at the ends";
        EXPECT_EQ(status, 0x8201);
        EXPECT_EQ(r4, (Moment{1, 19, 6, 25, 53}));
    }
}

TEST(RelaySimContent, RecordRegistersAreAllDifferent)
{
    const auto regs = RelaySim::dumpRegisters({"--freeze"});
    std::map<int, int> seen; // value -> register
    for (int r = 128; r <= 195; ++r) {
        const auto [at, added] = seen.emplace(regs.at(r), r);
        EXPECT_TRUE(added) << "registers " << at->second << " and " << r << " both hold " << regs.at(r);
    }
    // No recorded value can be taken for a live value, a setting or a mask
    // (the clock, which follows the host's, aside).
    for (int n = 0; n < 4; ++n) {
        for (int k = 6; k < 17; ++k) {
            const int r = 128 + 17 * n + k;
            for (int other = 50; other <= 123; ++other) {
                if (other < 67 || other > 71) {
                    EXPECT_NE(regs.at(r), regs.at(other)) << "record register " << r << " and register " << other;
                }
            }
        }
    }
}

TEST(RelaySimContent, RecordOptionPresetsAllSeventeenRegistersInCommandLineOrder)
{
    const std::string record3 = "3=2,29,0,0,0,0x8001,0,65535,3,4,5,6,7,8,9,10,0xFFFF";
    const auto plain = RelaySim::dumpRegisters();
    const auto regs = RelaySim::dumpRegisters({"--set", "163=99", "--record", record3, "--record",
                                               "1=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17", "--set",
                                               "0x90=4242"});
    const int expected3[17] = {2, 29, 0, 0, 0, 0x8001, 0, 65535, 3, 4, 5, 6, 7, 8, 9, 10, 65535};
    for (int k = 0; k < 17; ++k) {
        EXPECT_EQ(regs.at(162 + k), expected3[k]) << "record 3, offset " << k;
        EXPECT_EQ(regs.at(128 + k), k == 16 ? 4242 : k + 1) << "record 1, offset " << k;
        EXPECT_EQ(regs.at(145 + k), plain.at(145 + k)) << "record 2 untouched, offset " << k;
        EXPECT_EQ(regs.at(179 + k), plain.at(179 + k)) << "record 4 untouched, offset " << k;
    }
    EXPECT_EQ(regs.at(127), plain.at(127));
    EXPECT_EQ(regs.at(196), plain.at(196));
}

TEST(RelaySimContent, ClockStartsFromLocalTimeAndSetOverrides)
{
    const time_t before = time(nullptr);
    auto regs = RelaySim::dumpRegisters({"--set", "66=32768", "--set", "0x6C=1234"});
    const time_t after = time(nullptr);

    bool matches = false;
    for (time_t t = before; t <= after && !matches; ++t) {
        std::tm tm{};
        localtime_r(&t, &tm);
        matches = regs[67] == tm.tm_mon + 1 && regs[68] == tm.tm_mday && regs[69] == tm.tm_hour
            && regs[70] == tm.tm_min && regs[71] == tm.tm_sec;
    }
    EXPECT_TRUE(matches) << regs[67] << "-" << regs[68] << " " << regs[69] << ":" << regs[70] << ":" << regs[71];

    EXPECT_EQ(regs[66], 32768);
    EXPECT_EQ(regs[108], 1234);
    auto plain = RelaySim::dumpRegisters();
    EXPECT_EQ(regs[50], plain[50]);
    EXPECT_EQ(regs[107], plain[107]);
}

TEST(RelaySimContent, LiveValuesWanderOnlyAFewUnits)
{
    const std::vector<std::string> args{"--no-pace", "--seed", "7"};
    auto start = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    bool changed = false;
    for (int round = 0; round < 5; ++round) {
        Pause(600);
        const Bytes reply = line.transact(RelaySim::readRequest(1, 50, 11), 27);
        ASSERT_EQ(reply.size(), 27u);
        ASSERT_TRUE(CrcOk(reply));
        for (int k = 0; k <= 10; ++k) {
            const int r = 50 + k;
            const int spread = r == 53 ? 40 : 6;
            EXPECT_LE(std::abs(Reg(reply, k) - start[r]), spread) << "register " << r;
            changed = changed || Reg(reply, k) != start[r];
        }
    }
    EXPECT_TRUE(changed) << "nothing wandered in three seconds";
}

// -------------------------------------------------------------------- reads

TEST(RelaySimRead, EveryReadOfTheToolGetsTheDumpedRegisters)
{
    const auto args = PinnedClock({"--no-pace", "--freeze", "--set", "66=0x8001"});
    auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    struct Block {
        int first, count;
    };
    for (Block b : {Block{50, 29}, Block{50, 11}, Block{80, 44}, Block{96, 12}, Block{128, 17}, Block{145, 17},
                    Block{162, 17}, Block{179, 17}, Block{255, 1}, Block{0, 125}}) {
        SCOPED_TRACE("read " + std::to_string(b.count) + " from " + std::to_string(b.first));
        const size_t length = size_t(2 * b.count + 5);
        const Bytes reply = line.transact(RelaySim::readRequest(1, uint16_t(b.first), uint16_t(b.count)), length);
        ASSERT_EQ(reply.size(), length);
        EXPECT_EQ(reply[0], 1);
        EXPECT_EQ(reply[1], 3);
        EXPECT_EQ(reply[2], 2 * b.count);
        EXPECT_TRUE(CrcOk(reply));
        for (int k = 0; k < b.count; ++k)
            EXPECT_EQ(Reg(reply, k), regs[b.first + k]) << "register " << b.first + k;
    }
}

TEST(RelaySimRead, OtherAddressesBroadcastAndBadCrcGetNoAnswer)
{
    RelaySim sim({"--no-pace", "--slave", "5"});
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    Bytes badCrc = RelaySim::readRequest(5, 50, 29);
    badCrc.back() ^= 0x01;
    for (const Bytes& request : {RelaySim::readRequest(1, 50, 29), RelaySim::readRequest(0, 50, 29),
                                 RelaySim::writeRequest(0, 108, 1), badCrc}) {
        line.write(request);
        EXPECT_TRUE(line.readUntilQuiet(300).empty());
    }

    const Bytes reply = line.transact(RelaySim::readRequest(5, 80, 1), 7);
    ASSERT_EQ(reply.size(), 7u);
    EXPECT_TRUE(CrcOk(reply));
    EXPECT_EQ(Reg(reply, 0), 5);
}

TEST(RelaySimRead, SeveralAddressesOnOneLineEachAnswerForItself)
{
    const auto args = PinnedClock({"--no-pace", "--freeze", "--address", "7", "--slave", "200"});
    const auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    // A scan's probe of register 80: only the two relays answer, each with
    // its own address.
    for (int address : {1, 6, 7, 8, 199, 200, 201, 247}) {
        SCOPED_TRACE("address " + std::to_string(address));
        ASSERT_TRUE(line.write(RelaySim::readRequest(uint8_t(address), 80, 1)));
        const Bytes reply = line.readUntilQuiet(100);
        if (address == 7 || address == 200) {
            ASSERT_EQ(reply.size(), 7u);
            EXPECT_TRUE(CrcOk(reply));
            EXPECT_EQ(reply[0], address);
            EXPECT_EQ(Reg(reply, 0), address);
        } else {
            EXPECT_TRUE(reply.empty());
        }
    }

    // A write reaches only the relay it is addressed to.
    const Bytes write = RelaySim::writeRequest(200, 108, 3000);
    EXPECT_EQ(line.transact(write, 8), write);
    EXPECT_EQ(line.transact(RelaySim::readRequest(7, 108, 1), 7),
              RelaySim::withCrc({7, 3, 2, uint8_t(regs.at(108) >> 8), uint8_t(regs.at(108))}));
    EXPECT_EQ(line.transact(RelaySim::readRequest(200, 108, 1), 7),
              RelaySim::withCrc({200, 3, 2, 3000 >> 8, 3000 & 0xFF}));
}

TEST(RelaySimRead, IllegalRequestsGetExceptionReplies)
{
    RelaySim sim({"--no-pace", "--freeze"});
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    struct Case {
        const char* what;
        Bytes request;
        uint8_t function, code;
    };
    const Case cases[] = {
        {"function 4", RelaySim::withCrc({1, 4, 0, 50, 0, 1}), 0x84, 1},
        {"function 17, short frame", RelaySim::withCrc({1, 0x11}), 0x91, 1},
        {"function 16", RelaySim::withCrc({1, 0x10, 0, 108, 0, 1, 2, 0, 5}), 0x90, 1},
        {"count 0", RelaySim::readRequest(1, 50, 0), 0x83, 3},
        {"count 126", RelaySim::readRequest(1, 0, 126), 0x83, 3},
        {"past register 255", RelaySim::readRequest(1, 250, 10), 0x83, 2},
        {"write to a measurement", RelaySim::writeRequest(1, 50, 1), 0x86, 2},
        {"write past the settings", RelaySim::writeRequest(1, 124, 1), 0x86, 2},
        {"write to an event record", RelaySim::writeRequest(1, 128, 1), 0x86, 2},
        {"month 13", RelaySim::writeRequest(1, 67, 13), 0x86, 3},
        {"hour 24", RelaySim::writeRequest(1, 69, 24), 0x86, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes reply = line.transact(c.request, 5);
        ASSERT_EQ(reply.size(), 5u);
        EXPECT_EQ(reply[0], 1);
        EXPECT_EQ(reply[1], c.function);
        EXPECT_EQ(reply[2], c.code);
        EXPECT_TRUE(CrcOk(reply));
        EXPECT_TRUE(line.readUntilQuiet(50).empty()) << "more than one reply";
    }
}

// ------------------------------------------------------------------- writes

TEST(RelaySimWrite, SettingAndMaskAreEchoedExactlyAndReadBack)
{
    RelaySim sim({"--no-pace", "--freeze"});
    auto regs = RelaySim::dumpRegisters();
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    for (const Bytes& w : {RelaySim::writeRequest(1, 108, 3125), RelaySim::writeRequest(1, 107, 0x8001),
                           RelaySim::writeRequest(1, 80, 9)})
        EXPECT_EQ(line.transact(w, 8), w);

    const Bytes reply = line.transact(RelaySim::readRequest(1, 80, 44), 93);
    ASSERT_EQ(reply.size(), 93u);
    EXPECT_EQ(Reg(reply, 108 - 80), 3125);
    EXPECT_EQ(Reg(reply, 107 - 80), 0x8001);
    EXPECT_EQ(Reg(reply, 96 - 80), regs[96]);
    EXPECT_EQ(Reg(reply, 97 - 80), regs[97]);
    EXPECT_EQ(Reg(reply, 0), 9);

    // The new address is only stored; the relay still answers at 1.
    EXPECT_EQ(line.transact(RelaySim::readRequest(1, 80, 1), 7).size(), 7u);
}

TEST(RelaySimWrite, ClockWriteSetsAFrozenClock)
{
    RelaySim sim({"--no-pace", "--freeze"});
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    const int fields[] = {12, 31, 23, 59, 58};
    for (int i = 0; i < 5; ++i) {
        const Bytes w = RelaySim::writeRequest(1, uint16_t(67 + i), uint16_t(fields[i]));
        EXPECT_EQ(line.transact(w, 8), w);
    }
    line.transact(RelaySim::writeRequest(1, 67, 13), 5); // refused, changes nothing

    Pause(1200);
    const Bytes reply = line.transact(RelaySim::readRequest(1, 67, 5), 15);
    ASSERT_EQ(reply.size(), 15u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Reg(reply, i), fields[i]) << "clock register " << 67 + i;
}

TEST(RelaySimWrite, RunningClockCarriesIntoTheNewYear)
{
    RelaySim sim({"--no-pace"});
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    // Seconds first, so no carry can happen while the other fields are set.
    for (auto [r, v] : {std::pair{71, 0}, {67, 12}, {68, 31}, {69, 23}, {70, 59}, {71, 59}})
        ASSERT_EQ(line.transact(RelaySim::writeRequest(1, uint16_t(r), uint16_t(v)), 8).size(), 8u);

    Pause(1500);
    const Bytes reply = line.transact(RelaySim::readRequest(1, 67, 5), 15);
    ASSERT_EQ(reply.size(), 15u);
    EXPECT_EQ(Reg(reply, 0), 1);  // month
    EXPECT_EQ(Reg(reply, 1), 1);  // day
    EXPECT_EQ(Reg(reply, 2), 0);  // hour
}

TEST(RelaySimWrite, RefusedWritesGetDeviceFailureAndChangeNothing)
{
    const auto args = PinnedClock({"--no-pace", "--freeze", "--refuse-writes", "108,0x60", "--refuse-writes=67,50"});
    const auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    for (int round = 0; round < 2; ++round) { // the tool repeats a write that is not echoed
        for (int r : {108, 96, 67, 50}) {
            SCOPED_TRACE("register " + std::to_string(r) + ", round " + std::to_string(round));
            const Bytes reply = line.transact(RelaySim::writeRequest(1, uint16_t(r), 12), 5);
            EXPECT_EQ(reply, RelaySim::withCrc({1, 0x86, 4}));
            EXPECT_TRUE(line.readUntilQuiet(50).empty()) << "more than the exception reply";
        }
    }

    // Other registers are written as before.
    for (const Bytes& w : {RelaySim::writeRequest(1, 107, 0x0101), RelaySim::writeRequest(1, 68, 20)})
        EXPECT_EQ(line.transact(w, 8), w);

    const Bytes reply = line.transact(RelaySim::readRequest(1, 50, 74), 153);
    ASSERT_EQ(reply.size(), 153u);
    for (int r = 50; r < 124; ++r) {
        const int expected = r == 107 ? 0x0101 : r == 68 ? 20 : regs.at(r);
        EXPECT_EQ(Reg(reply, r - 50), expected) << "register " << r;
    }
}

TEST(RelaySimWrite, RefusalComesBeforeTheClamp)
{
    RelaySim sim({"--no-pace", "--freeze", "--clamp", "100", "--refuse-writes", "109"});
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());
    EXPECT_EQ(line.transact(RelaySim::writeRequest(1, 109, 5000), 5), RelaySim::withCrc({1, 0x86, 4}));
    EXPECT_EQ(line.transact(RelaySim::writeRequest(1, 110, 5000), 8), RelaySim::writeRequest(1, 110, 100));
}

TEST(RelaySimWrite, ClampedEchoDiffersFromTheRequestOnlyInTheValue)
{
    const auto args = PinnedClock({"--no-pace", "--freeze", "--clamp", "0x200"});
    const auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    for (int r : {81, 96, 107, 123}) {
        SCOPED_TRACE("register " + std::to_string(r));
        const Bytes request = RelaySim::writeRequest(1, uint16_t(r), 0xFFFF);
        const Bytes echo = line.transact(request, 8);
        ASSERT_EQ(echo.size(), 8u);
        EXPECT_TRUE(CrcOk(echo));
        EXPECT_EQ(Bytes(echo.begin(), echo.begin() + 4), Bytes(request.begin(), request.begin() + 4));
        EXPECT_EQ((echo[4] << 8) | echo[5], 0x200);
        EXPECT_TRUE(line.readUntilQuiet(50).empty());
    }
    const Bytes reply = line.transact(RelaySim::readRequest(1, 80, 44), 93);
    ASSERT_EQ(reply.size(), 93u);
    for (int r = 80; r < 124; ++r) {
        const bool written = r == 81 || r == 96 || r == 107 || r == 123;
        EXPECT_EQ(Reg(reply, r - 80), written ? 0x200 : regs.at(r)) << "register " << r;
    }
}

// -------------------------------------------------------------------- clock

namespace {

using Steady = std::chrono::steady_clock;

// Whole seconds from `from` to `to`.
int WholeSeconds(Steady::time_point from, Steady::time_point to)
{
    return int(std::chrono::duration_cast<std::chrono::seconds>(to - from).count());
}

Moment ReadClock(SimLine& line)
{
    const Bytes reply = line.transact(RelaySim::readRequest(1, 67, 5), 15);
    if (reply.size() != 15 || !CrcOk(reply))
        return Moment{-1, -1, -1, -1, -1};
    return Moment{Reg(reply, 0), Reg(reply, 1), Reg(reply, 2), Reg(reply, 3), Reg(reply, 4)};
}

} // namespace

TEST(RelaySimClock, ReadsTheWrittenMomentAndThenTicksOn)
{
    RelaySim sim({"--no-pace"});
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    // The second goes to 0 first, so no carry reaches the fields being set;
    // then month, day, hour, minute and second as the tool writes them.
    const Moment written{3, 14, 9, 26, 5};
    const int fields[] = {written.month, written.day, written.hour, written.minute};
    ASSERT_EQ(line.transact(RelaySim::writeRequest(1, 71, 0), 8).size(), 8u);
    for (int i = 0; i < 4; ++i) {
        const Bytes w = RelaySim::writeRequest(1, uint16_t(67 + i), uint16_t(fields[i]));
        ASSERT_EQ(line.transact(w, 8), w);
    }
    const auto beforeSecond = Steady::now();
    const Bytes w = RelaySim::writeRequest(1, 71, uint16_t(written.second));
    ASSERT_EQ(line.transact(w, 8), w);
    const auto echoed = Steady::now();

    // The clock counts whole seconds from the write of the second: by the
    // time a read is answered it has gone on by at least the whole seconds
    // between the echo and the request, and by at most those between the
    // write and the reply. Read at once, it shows the written moment
    // itself unless a second has passed.
    auto check = [&](Steady::time_point requested, const Moment& read, Steady::time_point answered) {
        ASSERT_EQ(read.month, written.month);
        ASSERT_EQ(read.day, written.day);
        const int ahead = (read.hour * 3600 + read.minute * 60 + read.second)
            - (written.hour * 3600 + written.minute * 60 + written.second);
        EXPECT_GE(ahead, std::max(0, WholeSeconds(echoed, requested))) << read;
        EXPECT_LE(ahead, WholeSeconds(beforeSecond, answered)) << read;
    };

    const auto firstAsked = Steady::now();
    const Moment first = ReadClock(line);
    check(firstAsked, first, Steady::now());

    Pause(2500);
    const auto laterAsked = Steady::now();
    const Moment later = ReadClock(line);
    check(laterAsked, later, Steady::now());
    EXPECT_NE(later, written) << "the clock stands still";
}

// ------------------------------------------------------------------- faults

TEST(RelaySimFaults, BadCrcSpoilsOnlyTheCrc)
{
    const auto args = PinnedClock({"--no-pace", "--freeze", "--bad-crc", "1"});
    auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    const Bytes reply = line.transact(kCurrentParams, 63);
    ASSERT_EQ(reply.size(), 63u);
    EXPECT_FALSE(CrcOk(reply));
    for (int k = 0; k < 29; ++k)
        EXPECT_EQ(Reg(reply, k), regs[50 + k]);
    const uint16_t right = ModbusCrc(reply.data(), 61);
    EXPECT_EQ(reply[61] | (reply[62] << 8), right ^ 0xFFFF);
}

TEST(RelaySimFaults, ClampStoresAndEchoesTheClampedValue)
{
    RelaySim sim({"--no-pace", "--freeze", "--clamp", "1000"});
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    const Bytes echo = line.transact(RelaySim::writeRequest(1, 108, 5000), 8);
    EXPECT_EQ(echo, RelaySim::writeRequest(1, 108, 1000));

    const Bytes reply = line.transact(RelaySim::readRequest(1, 108, 1), 7);
    ASSERT_EQ(reply.size(), 7u);
    EXPECT_EQ(Reg(reply, 0), 1000);

    const Bytes small = RelaySim::writeRequest(1, 108, 999);
    EXPECT_EQ(line.transact(small, 8), small);
}

TEST(RelaySimFaults, SilentAndDropNeverAnswer)
{
    for (const char* option : {"--silent", "--drop"}) {
        SCOPED_TRACE(option);
        std::vector<std::string> args{"--no-pace", option};
        if (std::string(option) == "--drop")
            args.push_back("1");
        RelaySim sim(args);
        SimLine line(sim.path());
        ASSERT_TRUE(line.isOpen());
        for (int i = 0; i < 3; ++i) {
            line.write(i == 1 ? RelaySim::writeRequest(1, 108, 1) : kCurrentParams);
            EXPECT_TRUE(line.readUntilQuiet(300).empty());
        }
    }
}

TEST(RelaySimFaults, ExceptionTruncateAndGarbage)
{
    {
        RelaySim sim({"--no-pace", "--exception", "1"});
        SimLine line(sim.path());
        const Bytes reply = line.transact(kCurrentParams, 5);
        EXPECT_EQ(reply, RelaySim::withCrc({1, 0x83, 4}));
    }
    {
        RelaySim sim({"--no-pace", "--truncate", "1"});
        SimLine line(sim.path());
        line.write(kCurrentParams);
        const Bytes reply = line.readUntilQuiet(300);
        EXPECT_GE(reply.size(), 1u);
        EXPECT_LT(reply.size(), 63u);
    }
    {
        const auto args = PinnedClock({"--no-pace", "--freeze", "--garbage", "1"});
        RelaySim sim(args);
        SimLine line(sim.path());
        line.write(kCurrentParams);
        const Bytes all = line.readUntilQuiet(300);
        ASSERT_GT(all.size(), 63u);
        EXPECT_LE(all.size(), 63u + 4);
        const Bytes tail(all.end() - 63, all.end());
        EXPECT_TRUE(CrcOk(tail));
        EXPECT_EQ(tail[2], 58);
    }
}

TEST(RelaySimFaults, SameRandomStartGivesTheSameFaults)
{
    auto pattern = [](const char* start) {
        RelaySim sim({"--no-pace", "--freeze", "--bad-crc", "0.5", "--seed", start});
        SimLine line(sim.path());
        std::string marks;
        for (int i = 0; i < 32; ++i) {
            const Bytes reply = line.transact(kCurrentParams, 63);
            marks += reply.size() != 63 ? '?' : CrcOk(reply) ? '.' : 'x';
        }
        return marks;
    };
    const std::string first = pattern("42");
    EXPECT_EQ(first, pattern("42"));
    EXPECT_NE(first.find('.'), std::string::npos) << first;
    EXPECT_NE(first.find('x'), std::string::npos) << first;
    EXPECT_EQ(first.find('?'), std::string::npos) << first;
}

// A frame of slave 1 after the reply to `function`: `header` bytes as in
// the reply, then `words` marker values 48879 and the CRC.
Bytes MarkerFrame(Bytes header, int words)
{
    for (int k = 0; k < words; ++k) {
        header.push_back(0xBE);
        header.push_back(0xEF);
    }
    return RelaySim::withCrc(header);
}

TEST(RelaySimFaults, UnaskedFrameFollowsEachReplyAndChangesNothing)
{
    const std::string dir = TempDir();
    const std::string timing = dir + "/timing.log";
    // A wide gap before the frame nobody asked for, so that a request sent
    // right after a reply surely comes before it.
    const auto args = PinnedClock({"--freeze", "--turnaround-ms", "1", "--unasked", "1", "--unasked-gap-ms", "20",
                                   "--timing", timing});
    const auto regs = RelaySim::dumpRegisters(args);
    {
        RelaySim sim(args);
        SimLine line(sim.path());
        ASSERT_TRUE(line.isOpen());

        const Bytes reply = line.transact(kCurrentParams, 63, 5000);
        ASSERT_EQ(reply.size(), 63u);
        for (int k = 0; k < 29; ++k)
            EXPECT_EQ(Reg(reply, k), regs.at(50 + k));
        const Bytes marker = line.read(63, 5000);
        EXPECT_TRUE(CrcOk(marker));
        EXPECT_EQ(marker, MarkerFrame({1, 3, 58}, 29));

        // A request sent right after the echo, before the frame nobody asked
        // for went out, is heard first: that frame is dropped, and the write
        // it would have carried is not the relay's.
        const Bytes write = RelaySim::writeRequest(1, 108, 3000);
        EXPECT_EQ(line.transact(write, 8, 5000), write);
        ASSERT_TRUE(line.write(RelaySim::readRequest(1, 108, 1)));
        EXPECT_EQ(line.read(7, 5000), RelaySim::withCrc({1, 3, 2, 3000 >> 8, 3000 & 0xFF}));
        EXPECT_EQ(line.read(7, 5000), MarkerFrame({1, 3, 2}, 1));

        // One that comes while that frame is going out collides with it: the
        // rest of the frame is spoilt and the request goes unanswered.
        ASSERT_EQ(line.transact(kCurrentParams, 63, 5000).size(), 63u);
        const Bytes begun = line.read(4, 5000);
        ASSERT_EQ(begun.size(), 4u);
        ASSERT_TRUE(line.write(RelaySim::readRequest(1, 108, 1)));
        Bytes spoilt = begun;
        const Bytes rest = line.read(59, 5000);
        spoilt.insert(spoilt.end(), rest.begin(), rest.end());
        EXPECT_EQ(spoilt.size(), 63u);
        EXPECT_FALSE(CrcOk(spoilt));
        EXPECT_TRUE(line.readUntilQuiet(200).empty());

        // None after an exception reply.
        EXPECT_EQ(line.transact(RelaySim::withCrc({1, 4, 0, 50, 0, 1}), 5, 5000), RelaySim::withCrc({1, 0x84, 1}));
        EXPECT_TRUE(line.readUntilQuiet(200).empty());
    }

    std::string marks;
    int64_t lastEnd = 0;
    for (const TimedFrame& e : LoggedTimings(QString::fromStdString(timing))) {
        if (!e.sent)
            continue;
        marks += e.unasked ? 'u' : 'r';
        if (e.unasked) {
            EXPECT_GE(e.firstNs - lastEnd, 20'000'000) << "sooner than --unasked-gap-ms after the reply";
        }
        lastEnd = e.lastNs;
    }
    EXPECT_EQ(marks, "rurrurur");
    unlink(timing.c_str());
    rmdir(dir.c_str());
}

// ------------------------------------------------------------- pacing, line

TEST(RelaySimLine, PacedReplyArrivesInPieces)
{
    RelaySim sim(PinnedClock({"--freeze"}));
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());

    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(line.write(kCurrentParams));
        const auto pieces = line.readPieces(63, 5000);
        Bytes reply;
        for (const Bytes& p : pieces)
            reply.insert(reply.end(), p.begin(), p.end());
        ASSERT_EQ(reply.size(), 63u);
        EXPECT_TRUE(CrcOk(reply));
        EXPECT_GT(pieces.size(), 1u);
    }

    // Larger pieces, as from a UART's FIFO: never more reads than pieces.
    RelaySim fifo(PinnedClock({"--freeze", "--piece-bytes", "16"}));
    SimLine fifoLine(fifo.path());
    ASSERT_TRUE(fifoLine.write(kCurrentParams));
    const auto pieces = fifoLine.readPieces(63, 5000);
    size_t total = 0;
    for (const Bytes& p : pieces)
        total += p.size();
    EXPECT_EQ(total, 63u);
    EXPECT_LE(pieces.size(), 4u);
}

TEST(RelaySimLine, KeepsAnsweringWhenTheMasterReopens)
{
    RelaySim sim({"--freeze", "--turnaround-ms", "1"});
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        SimLine line(sim.path());
        ASSERT_TRUE(line.isOpen());
        line.readUntilQuiet(150); // the rest of a reply cut off by the last close
        const Bytes reply = line.transact(kCurrentParams, 63);
        ASSERT_EQ(reply.size(), 63u);
        EXPECT_TRUE(CrcOk(reply));

        // Leave with half a request sent and a reply under way.
        line.write(kCurrentParams);
        line.read(10, 3000);
        line.write({0x01, 0x03, 0x00});
    }
    EXPECT_TRUE(sim.running());
    EXPECT_EQ(sim.stop(), 0);
}

// A master killed in the middle of an exchange must leave nothing behind for
// the next one. The next masters here open the line as libmodbus does,
// without throwing away what is waiting, and each must get exactly its own
// reply: a different block each time, so a stale reply cannot pass for it.
namespace {

struct Block {
    uint16_t first, count;
};
constexpr Block kBlocks[] = {{128, 17}, {80, 44}, {50, 11}, {179, 17}};

// Time for the simulator to see a master go before the next one comes.
// Bytes the old master sent are told from the new one's only by that order:
// were the simulator kept off the CPU until both had happened, what it had
// not yet read of the old master's would stay on the line.
constexpr int kLeaveMs = 300;

// Sends the read of `b` on a freshly opened line and checks the reply
// against the registers, and that nothing else follows it.
void ExpectOwnReply(const std::string& path, const Block& b, const std::map<int, int>& regs)
{
    SimLine next(path, false);
    ASSERT_TRUE(next.isOpen());
    const size_t length = size_t(2 * b.count + 5);
    const Bytes reply = next.transact(RelaySim::readRequest(1, b.first, b.count), length, 5000);
    ASSERT_EQ(reply.size(), length);
    EXPECT_TRUE(CrcOk(reply));
    EXPECT_EQ(reply[0], 1);
    EXPECT_EQ(reply[1], 3);
    EXPECT_EQ(reply[2], 2 * b.count);
    for (int k = 0; k < b.count; ++k)
        EXPECT_EQ(Reg(reply, k), regs.at(b.first + k)) << "register " << b.first + k;
    EXPECT_TRUE(next.readUntilQuiet(200).empty()) << "bytes after the reply";
}

} // namespace

TEST(RelaySimNewOpener, ReplyCutOffByTheCloseDoesNotReachTheNextMaster)
{
    const auto args = PinnedClock({"--freeze", "--turnaround-ms", "1"});
    const auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    for (const Block& b : kBlocks) {
        SCOPED_TRACE("next reads " + std::to_string(b.count) + " from " + std::to_string(b.first));
        {
            SimLine killed(sim.path());
            ASSERT_TRUE(killed.isOpen());
            ASSERT_TRUE(killed.write(kCurrentParams));
            ASSERT_EQ(killed.read(6, 5000).size(), 6u); // the paced reply is under way
        }
        Pause(kLeaveMs);
        ExpectOwnReply(sim.path(), b, regs);
    }
    EXPECT_TRUE(sim.running());
}

TEST(RelaySimNewOpener, UnreadReplyDoesNotReachTheNextMaster)
{
    const auto args = PinnedClock({"--no-pace", "--freeze"});
    const auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    for (const Block& b : kBlocks) {
        SCOPED_TRACE("next reads " + std::to_string(b.count) + " from " + std::to_string(b.first));
        {
            SimLine killed(sim.path());
            ASSERT_TRUE(killed.isOpen());
            ASSERT_TRUE(killed.write(kCurrentParams));
            pollfd pfd{killed.fd(), POLLIN, 0}; // the whole reply is waiting, and is left unread
            ASSERT_EQ(poll(&pfd, 1, 5000), 1);
        }
        Pause(kLeaveMs);
        ExpectOwnReply(sim.path(), b, regs);
    }
}

TEST(RelaySimNewOpener, RequestBrokenOffDoesNotSpoilTheNextOne)
{
    RelaySim sim(PinnedClock({"--no-pace", "--freeze"}));
    // An odd-length frame is taken only when all that came since the last
    // frame checks out, so a leftover half request would swallow it.
    const Bytes shortFrame = RelaySim::withCrc({1, 0x11});
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        {
            SimLine killed(sim.path());
            ASSERT_TRUE(killed.isOpen());
            ASSERT_TRUE(killed.write({0x01, 0x06, 0x00, 0x6C, 0x00}));
        }
        Pause(kLeaveMs);
        SimLine next(sim.path(), false);
        ASSERT_TRUE(next.isOpen());
        EXPECT_EQ(next.transact(shortFrame, 5, 5000), RelaySim::withCrc({1, 0x91, 1}));
    }
}

TEST(RelaySimNewOpener, RequestLeftUnansweredIsNotAnsweredToTheNextMaster)
{
    const auto args = PinnedClock({"--turnaround-ms", "200", "--freeze"});
    const auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    for (const Block& b : kBlocks) {
        SCOPED_TRACE("next reads " + std::to_string(b.count) + " from " + std::to_string(b.first));
        {
            SimLine killed(sim.path());
            ASSERT_TRUE(killed.isOpen());
            ASSERT_TRUE(killed.write(kCurrentParams)); // and gone before the turnaround is over
        }
        Pause(kLeaveMs);
        ExpectOwnReply(sim.path(), b, regs);
    }
}

TEST(RelaySimNewOpener, AnotherOpenerOnTheSideDoesNotDisturbAnExchange)
{
    const auto args = PinnedClock({"--freeze", "--turnaround-ms", "1"});
    const auto regs = RelaySim::dumpRegisters(args);
    RelaySim sim(args);
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(line.write(kCurrentParams));
        const Bytes head = line.read(6, 5000);
        ASSERT_EQ(head.size(), 6u);
        {
            // Opened and closed while a reply is on its way, as a port
            // settings tool would; the master that holds the line still
            // gets all of it.
            SimLine visitor(sim.path(), false);
            ASSERT_TRUE(visitor.isOpen());
        }
        Bytes reply = head;
        const Bytes rest = line.read(57, 5000);
        reply.insert(reply.end(), rest.begin(), rest.end());
        ASSERT_EQ(reply.size(), 63u);
        EXPECT_TRUE(CrcOk(reply));
        for (int k = 0; k < 29; ++k)
            EXPECT_EQ(Reg(reply, k), regs.at(50 + k));
    }
}

TEST(RelaySimLine, LinkLivesAsLongAsTheSimulator)
{
    const std::string dir = TempDir();
    const std::string link = dir + "/ttyRelay";
    RelaySim sim({"--no-pace", "--link", link});

    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.path());
    {
        SimLine line(link);
        ASSERT_TRUE(line.isOpen());
        EXPECT_EQ(line.transact(kCurrentParams, 63).size(), 63u);
    }
    EXPECT_EQ(sim.stop(), 0);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    rmdir(dir.c_str());
}

TEST(RelaySimLine, GoneAfterLooksLikeAPulledAdapter)
{
    const std::string dir = TempDir();
    const std::string link = dir + "/ttyRelay";
    RelaySim sim({"--no-pace", "--gone-after", "1", "--link", link});
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());
    EXPECT_EQ(line.transact(kCurrentParams, 63).size(), 63u);

    // Wait for the hang-up as the tool's port would: poll, then read.
    bool hungUp = false;
    for (int i = 0; i < 100 && !hungUp; ++i) {
        pollfd pfd{line.fd(), POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        if (pfd.revents & (POLLHUP | POLLERR)) {
            hungUp = true;
            break;
        }
        uint8_t b = 0;
        const ssize_t n = ::read(line.fd(), &b, 1);
        hungUp = n == 0 || (n < 0 && errno == EIO);
    }
    EXPECT_TRUE(hungUp);
    EXPECT_EQ(sim.waitExit(10000), 0);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
    rmdir(dir.c_str());
}

TEST(RelaySimLine, LogHasOneLinePerReceivedFrame)
{
    const std::string dir = TempDir();
    const std::string log = dir + "/frames.log";
    {
        RelaySim sim({"--no-pace", "--log", log});
        SimLine line(sim.path());
        ASSERT_EQ(line.transact(kCurrentParams, 63).size(), 63u);
        line.write(RelaySim::readRequest(2, 80, 44)); // not ours, logged all the same
        line.write({0x01, 0x03, 0x00, 0x32});          // broken off: not a frame
        line.readUntilQuiet(100);
        ASSERT_EQ(line.transact(RelaySim::writeRequest(1, 67, 12), 8).size(), 8u);
    }
    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);)
        lines.push_back(l);
    const std::vector<std::string> expected{"01 03 00 32 00 1D 24 0C", "02 03 00 50 00 2C 44 35",
                                            "01 06 00 43 00 0C 78 1B"};
    EXPECT_EQ(lines, expected);
    unlink(log.c_str());
    rmdir(dir.c_str());
}

// ------------------------------------------------------------- timing log

namespace {

// Line time of `bytes` characters at 9600 8N1.
constexpr int64_t LineNs(int64_t bytes)
{
    return bytes * 10'000'000'000LL / 9600;
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text;
}

} // namespace

TEST(RelaySimTiming, LogsEachFrameWithTheTimesOfItsBytes)
{
    const std::string dir = TempDir();
    const std::string timing = dir + "/timing.log";
    constexpr int kWaitMs = 10; // the master's silence before each next request
    const Bytes requests[] = {kCurrentParams, RelaySim::writeRequest(1, 108, 3000), RelaySim::readRequest(1, 80, 1)};
    std::vector<Bytes> replies;
    {
        RelaySim sim(PinnedClock({"--freeze", "--timing", timing}));
        SimLine line(sim.path());
        ASSERT_TRUE(line.isOpen());
        for (const Bytes& request : requests) {
            const size_t length = request[1] == 3 ? size_t(5 + 2 * request[5]) : 8u;
            replies.push_back(line.transact(request, length, 5000));
            ASSERT_EQ(replies.back().size(), length);
            Pause(kWaitMs);
        }
    }

    const auto entries = LoggedTimings(QString::fromStdString(timing));
    ASSERT_EQ(entries.size(), 6u);
    for (size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i + 1));
        const TimedFrame& e = entries[i];
        EXPECT_EQ(e.sent, i % 2 == 1);
        EXPECT_EQ(e.bytes, e.sent ? replies[i / 2] : requests[i / 2]);
        EXPECT_FALSE(e.unasked);
        EXPECT_LE(e.firstNs, e.lastNs);
        if (i > 0) {
            EXPECT_GE(e.firstNs, entries[i - 1].lastNs) << "out of order";
        }
    }
    // The times are the bytes' own, not the moment the line was logged: the
    // reply's first two and last bytes are due after the request's line
    // time, the 3 ms turnaround and their own line time.
    EXPECT_GE(entries[1].firstNs - entries[0].firstNs, LineNs(8 + 2) + 3'000'000);
    EXPECT_GE(entries[1].lastNs - entries[0].firstNs, LineNs(8 + 63) + 3'000'000);

    const auto silences = SilencesBeforeRequests(entries);
    ASSERT_EQ(silences.size(), 2u);
    for (size_t k = 0; k < silences.size(); ++k) {
        EXPECT_EQ(silences[k].request, requests[k + 1]);
        EXPECT_EQ(silences[k].previous, replies[k]);
        EXPECT_GE(silences[k].silenceNs, kWaitMs * 1'000'000LL);
    }
    unlink(timing.c_str());
    rmdir(dir.c_str());
}

TEST(RelaySimTiming, SilenceIsMeasuredFromTheFrameLastOnTheLine)
{
    const std::string dir = TempDir();
    const std::string timing = dir + "/timing.log";
    WriteText(timing, "RX 100 200 01 03 00 50 00 01 85 DB\n"         // nothing sent before it: no silence
                      "TX 1000 5000 01 03 02 00 01 79 84\n"
                      "TX 9000 12000 01 03 02 BE EF 09 74 [unasked]\n" // the frame last on the line
                      "RX 16000 16500 01 03 00 50 00 01 85 DB\n"
                      "TX 20000 30000 01 03 02 00 01 79 84\n"
                      "RX 25000 26000 01 06 00 6C 0B B8 49 27\n");     // began while a reply was going out
    const auto entries = LoggedTimings(QString::fromStdString(timing));
    ASSERT_EQ(entries.size(), 6u);
    EXPECT_TRUE(entries[2].unasked);
    EXPECT_EQ(entries[2].bytes, (Bytes{0x01, 0x03, 0x02, 0xBE, 0xEF, 0x09, 0x74}));

    const auto silences = SilencesBeforeRequests(entries);
    ASSERT_EQ(silences.size(), 2u);
    EXPECT_EQ(silences[0].silenceNs, 4000);
    EXPECT_EQ(silences[0].previous, entries[2].bytes);
    EXPECT_EQ(silences[1].silenceNs, -5000);
    EXPECT_EQ(silences[1].request, entries[5].bytes);
    unlink(timing.c_str());
    rmdir(dir.c_str());
}

// --------------------------------------------------------------------- TCP

namespace {

// True once the other side has closed the connection (or hung up the line)
// within timeoutMs.
bool ClosedByPeer(SimLine& line, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{line.fd(), POLLIN, 0};
        if (poll(&pfd, 1, 50) <= 0)
            continue;
        uint8_t b = 0;
        const ssize_t n = ::read(line.fd(), &b, 1);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return true;
    }
    return false;
}

// A Modbus TCP request or reply: MBAP header (protocol 0) and PDU.
Bytes Mbap(uint16_t transaction, uint8_t unit, const Bytes& pdu)
{
    const size_t length = pdu.size() + 1;
    Bytes frame{uint8_t(transaction >> 8), uint8_t(transaction), 0, 0, uint8_t(length >> 8), uint8_t(length), unit};
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    return frame;
}

// The PDU of an RTU frame: without its address and CRC.
Bytes Pdu(const Bytes& rtu)
{
    return Bytes(rtu.begin() + 1, rtu.end() - 2);
}

} // namespace

TEST(RelaySimTcp, RawPortPassesFramesThroughInSegments)
{
    const auto args = PinnedClock({"--freeze", "--tcp", "0"});
    const auto regs = RelaySim::dumpRegisters(PinnedClock({"--freeze"}));
    RelaySim sim(args);
    EXPECT_EQ(sim.endpoint(), "tcp://127.0.0.1:" + std::to_string(sim.port()));
    ASSERT_GT(sim.port(), 0);

    SimLine first(sim.endpoint());
    ASSERT_TRUE(first.isOpen());
    ASSERT_TRUE(first.write(kCurrentParams));
    const auto pieces = first.readPieces(63, 5000);
    Bytes reply;
    for (const Bytes& p : pieces)
        reply.insert(reply.end(), p.begin(), p.end());
    ASSERT_EQ(reply.size(), 63u);
    EXPECT_TRUE(CrcOk(reply));
    for (int k = 0; k < 29; ++k)
        EXPECT_EQ(Reg(reply, k), regs.at(50 + k));
    EXPECT_GT(pieces.size(), 1u) << "the reply came in one segment";

    // A new connection replaces the old one.
    SimLine second(sim.endpoint());
    ASSERT_TRUE(second.isOpen());
    EXPECT_TRUE(ClosedByPeer(first, 5000));
    EXPECT_EQ(second.transact(RelaySim::readRequest(1, 80, 1), 7, 5000),
              RelaySim::withCrc({1, 3, 2, 0, 1}));

    // Gone: the connection and the port close, and the simulator ends.
    RelaySim gone({"--no-pace", "--tcp", "0", "--gone-after", "0.5"});
    SimLine line(gone.endpoint());
    ASSERT_TRUE(line.isOpen());
    EXPECT_TRUE(ClosedByPeer(line, 10000));
    EXPECT_EQ(gone.waitExit(10000), 0);
    EXPECT_FALSE(SimLine(gone.endpoint()).isOpen());
}

TEST(RelaySimModbusTcp, GatewayAnswersInMbapAndForSilentRelays)
{
    const std::string dir = TempDir();
    const std::string log = dir + "/frames.log";
    const auto args = PinnedClock({"--freeze", "--modbus-tcp", "0", "--gateway-timeout-ms", "50", "--log", log});
    const auto regs = RelaySim::dumpRegisters(PinnedClock({"--freeze"}));
    {
        RelaySim sim(args);
        EXPECT_EQ(sim.endpoint(), "modbus-tcp://127.0.0.1:" + std::to_string(sim.port()));
        SimLine line(sim.endpoint());
        ASSERT_TRUE(line.isOpen());

        const Bytes reply = line.transact(Mbap(0x1234, 1, Pdu(kCurrentParams)), 67, 5000);
        ASSERT_EQ(reply.size(), 67u);
        EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 9), (Bytes{0x12, 0x34, 0, 0, 0, 61, 1, 3, 58}));
        for (int k = 0; k < 29; ++k)
            EXPECT_EQ((reply[size_t(9 + 2 * k)] << 8) | reply[size_t(10 + 2 * k)], regs.at(50 + k));

        // Whatever transaction id comes is echoed as given.
        const Bytes write = RelaySim::writeRequest(1, 108, 3000);
        for (uint16_t transaction : {0x1234, 0xFFFF, 0x0000}) {
            SCOPED_TRACE(transaction);
            EXPECT_EQ(line.transact(Mbap(transaction, 1, Pdu(write)), 12, 5000), Mbap(transaction, 1, Pdu(write)));
        }

        // No relay at unit 9: the gateway answers for it, exception 0x0B.
        EXPECT_EQ(line.transact(Mbap(0x0102, 9, Pdu(kCurrentParams)), 9, 5000), Mbap(0x0102, 9, {0x83, 0x0B}));

        // A length no request can have: the gateway drops the connection.
        ASSERT_TRUE(line.write({0x00, 0x07, 0, 0, 0, 0, 1}));
        EXPECT_TRUE(ClosedByPeer(line, 5000));
    }
    // The log shows the RTU frames the gateway put on the line.
    const std::vector<Frame> expected{kCurrentParams, RelaySim::writeRequest(1, 108, 3000),
                                      RelaySim::writeRequest(1, 108, 3000), RelaySim::writeRequest(1, 108, 3000),
                                      RelaySim::readRequest(9, 50, 29)};
    EXPECT_EQ(LoggedFrames(QString::fromStdString(log)), expected);
    unlink(log.c_str());
    rmdir(dir.c_str());

    // A gateway that cannot reach the line answers 0x0A to everything, and
    // nothing is written.
    RelaySim cut(PinnedClock({"--freeze", "--modbus-tcp", "0", "--gateway-path-unavailable"}));
    SimLine line(cut.endpoint());
    ASSERT_TRUE(line.isOpen());
    EXPECT_EQ(line.transact(Mbap(7, 1, Pdu(RelaySim::writeRequest(1, 108, 3000))), 9, 5000),
              Mbap(7, 1, {0x86, 0x0A}));
    EXPECT_EQ(line.transact(Mbap(8, 1, Pdu(kCurrentParams)), 9, 5000), Mbap(8, 1, {0x83, 0x0A}));
}

// ------------------------------------------------------------- command line

TEST(RelaySimCommandLine, BadOptionsEndWithStatusTwo)
{
    const std::vector<std::vector<std::string>> bad{
        {"--bogus"},          {"--drop", "1.5"},   {"--bad-crc", "x"}, {"--slave", "0"},
        {"--slave", "248"},   {"--set", "256=1"},  {"--set", "66"},    {"--set", "66=70000"},
        {"--turnaround-ms"},  {"--clamp", "-1"},   {"--freeze=1"},     {"--gone-after", "soon"},
        {"--piece-bytes", "0"}, {"--piece-bytes", "65"},
        {"--refuse-writes"}, {"--refuse-writes", ""}, {"--refuse-writes", "256"},
        {"--refuse-writes", "108,"}, {"--refuse-writes", "108,,109"}, {"--refuse-writes", "-1"},
        {"--refuse-writes", "0x"}, {"--version=1"}, {"--unasked", "1.01"}, {"--address", "0"},
        {"--address", "7", "--slave", "7"}, {"--tcp", "65536"}, {"--tcp", "0", "--modbus-tcp", "0"},
        {"--gateway-timeout-ms", "10"}, {"--tcp", "0", "--gateway-path-unavailable"},
        {"--modbus-tcp", "0", "--gateway-timeout-ms", "-1"}, {"--tcp", "0", "--link", "/tmp/relay-sim-link"}, {"--unasked-gap-ms", "-1"},
        {"--record", "1=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16"},
        {"--record", "1=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18"},
        {"--record", "5=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17"},
        {"--record", "0=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17"},
        {"--record", "2=1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,70000"},
        {"--record", "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17"},
        {"--record", "2=1,2,3,4,5,6,7,8,,10,11,12,13,14,15,16,17"},
    };
    for (const auto& args : bad) {
        SCOPED_TRACE(args[0]);
        EXPECT_EQ(RelaySim::runToEnd(args), 2);
    }
}

TEST(RelaySimCommandLine, HelpNamesEveryOption)
{
    std::string text;
    ASSERT_EQ(RelaySim::runToEnd({"--help"}, &text), 0);
    for (const char* option : {"--link", "--slave", "--address", "--no-pace", "--turnaround-ms", "--drop", "--bad-crc",
                               "--garbage", "--exception", "--truncate", "--silent", "--clamp", "--gone-after",
                               "--seed", "--freeze", "--set", "--log", "--timing", "--dump", "--piece-bytes",
                               "--refuse-writes", "--record", "--version", "--unasked", "--unasked-gap-ms", "48879",
                               "--address", "--tcp", "--modbus-tcp", "--gateway-timeout-ms",
                               "--gateway-path-unavailable"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
    // Each option's own line stands among the others, before the exit status.
    for (const char* option : {"--lines", "--trip-after", "--motor-start", "--peer-after-ms", "--peer-whole",
                               "--noise", "--noise-every-ms", "--peer-slave", "--echo-after-refusal", "--flood"})
        EXPECT_LT(text.find(std::string("\n  ") + option), text.find("\nExit status")) << option;

    // The program goes by its installed name everywhere.
    EXPECT_EQ(text.rfind("Usage: zashchita-relay-sim ", 0), 0u);
    for (size_t at = text.find("relay-sim"); at != std::string::npos; at = text.find("relay-sim", at + 1))
        EXPECT_EQ(text.compare(at < 10 ? 0 : at - 10, 10, "zashchita-"), 0) << text.substr(at < 20 ? 0 : at - 20, 40);
}

TEST(RelaySimCommandLine, VersionIsTheProjectsVersion)
{
    std::string text;
    ASSERT_EQ(RelaySim::runToEnd({"--version"}, &text), 0);
    EXPECT_EQ(text, std::string("zashchita-relay-sim ") + ZASHCHITA_VERSION + "\n");
}
