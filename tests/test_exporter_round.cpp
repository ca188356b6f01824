// The questions one exporter line asks its relays, in order, over a line in
// memory and on a clock of the test's own (a tick a millisecond, no sleep):
// the current parameters at full rate; the settings and the four records
// every 10 s, at once after a status change or a relay's return, and again
// when a read of them fails; a dead relay asked after 1 s, 2 s, 4 s ... up to
// 30 s, and from 1 s again after it has answered.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "LinePoller.h"
#include "exchanges/CurrentParams.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"

namespace {

struct Asked {
    qint64 ms;
    int address;
    std::string block;   // "C" current parameters, "S" settings, "R1".."R4" records
};

// Relays in `alive` answer each read at once, every register holding the
// relay's address but the status word, which holds status[address]; a read
// in `drop` (address, first register) goes unanswered once.
struct Plant : FakeLine {
    const qint64* now = nullptr;
    std::set<int> alive;
    std::map<int, uint16_t> status;
    std::set<std::pair<int, int>> drop;
    std::vector<Asked> asked;

    void WriteBytes(const uint8_t* f, int) override
    {
        const int address = f[0], first = f[2] << 8 | f[3], count = f[4] << 8 | f[5];
        const std::string block = first == 50 ? "C" : first == 80 ? "S" : "R" + std::to_string((first - 128) / 17 + 1);
        asked.push_back({*now, address, block});
        if (!alive.count(address) || drop.erase({address, first}))
            return;
        std::vector<uint16_t> registers(static_cast<size_t>(count), static_cast<uint16_t>(address));
        if (first <= kStatusRegister && kStatusRegister < first + count)
            registers[size_t(kStatusRegister - first)] = status[address];
        Feed(ReadReply(uint8_t(address), registers));
    }
};

struct Silent : PollOutput {
    const char* Name() const override { return "test"; }
};

struct Line {
    qint64 ms = 0;
    Plant plant;
    Silent out;
    std::unique_ptr<LinePoller> poller;

    Line(const std::vector<int>& addresses, std::set<int> alive)
    {
        plant.now = &ms;
        plant.alive = std::move(alive);
        LineConfig config;
        config.name = QStringLiteral("mill");
        for (int a : addresses)
            config.relays.push_back({QStringLiteral("R%1").arg(a), a, {}});
        LineHooks hooks;
        hooks.open = [this](RelaySession& session) {
            session.SetLine(&plant);
            session.State().ReadyToSend = 1;
        };
        hooks.steadyMs = hooks.unixMs = [this] { return ms; };
        poller = std::make_unique<LinePoller>(config, out, hooks);
        poller->Start();
    }
    void RunTo(qint64 end)
    {
        RelaySession& session = poller->Session();
        for (; ms < end; ++ms) {
            session.Tick();
            if (plant.BytesWaiting() > 0)
                session.Receive(plant.BytesWaiting());
        }
    }
    // The questions to `address` asked in [from, to).
    std::vector<Asked> Of(int address, qint64 from = 0, qint64 to = INT64_MAX) const
    {
        std::vector<Asked> out;
        for (const Asked& a : plant.asked)
            if (a.address == address && a.ms >= from && a.ms < to)
                out.push_back(a);
        return out;
    }
    static std::string Order(const std::vector<Asked>& asked, size_t count)
    {
        std::string order;
        for (size_t k = 0; k < std::min(count, asked.size()); ++k)
            order += (k ? " " : "") + asked[k].block;
        return order;
    }
    // Of the whole line, "1C 2C ...".
    std::string Order(size_t count) const
    {
        std::string order;
        for (size_t k = 0; k < std::min(count, plant.asked.size()); ++k)
            order += (k ? " " : "") + std::to_string(plant.asked[k].address) + plant.asked[k].block;
        return order;
    }
};

// Pauses before each question but the first, less the reply time-out of the
// one before and the turns of the others (under 100 ms here).
std::vector<qint64> Pauses(const std::vector<Asked>& asked)
{
    std::vector<qint64> pauses;
    for (size_t k = 1; k < asked.size(); ++k)
        pauses.push_back((asked[k].ms - asked[k - 1].ms - 200) / 100 * 100);
    return pauses;
}

}  // namespace

TEST(ExporterRound, SlowBlocksEveryOtherQuestionEvery10Seconds)
{
    Line line({1, 2}, {1, 2});
    line.RunTo(25000);
    EXPECT_EQ(line.Order(26), "1C 2C 1S 2S 1C 2C 1R1 2R1 1C 2C 1R2 2R2 1C 2C 1R3 2R3 1C 2C 1R4 2R4 1C 2C 1C 2C 1C 2C");
    std::vector<Asked> slow;
    for (const Asked& a : line.Of(1))
        if (a.block != "C")
            slow.push_back(a);
    ASSERT_EQ(Line::Order(slow, 99), "S R1 R2 R3 R4 S R1 R2 R3 R4 S R1 R2 R3 R4");
    for (size_t cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        EXPECT_GE(slow[cycle * 5].ms, qint64(cycle) * 10000);
        EXPECT_LT(slow[cycle * 5].ms, qint64(cycle) * 10000 + 200);
    }
}

TEST(ExporterRound, AStatusChangeAsksForTheSlowBlocksAtOnce)
{
    Line line({1, 2}, {1, 2});
    line.RunTo(3000);
    line.plant.status[1] = 0x0208;
    line.RunTo(6000);
    const std::vector<Asked> after = line.Of(1, 3000);
    EXPECT_EQ(Line::Order(after, 14), "C C S C R1 C R2 C R3 C R4 C C C");
    ASSERT_GE(after.size(), 3u);
    EXPECT_LT(after[2].ms, 3100);
    EXPECT_EQ(Line::Order(line.Of(2, 3000), 3), "C C C") << "relay 2's status has not changed";
}

TEST(ExporterRound, AFailedSlowReadIsAskedAgainInItsTurn)
{
    Line line({1, 2}, {1, 2});
    line.plant.drop = {{1, 80}, {1, 145}};   // the settings and record 2, once
    line.RunTo(3000);
    EXPECT_EQ(Line::Order(line.Of(1), 16), "C S C S C R1 C R2 C R2 C R3 C R4 C C");
}

TEST(ExporterRound, ADeadRelayIsBackedOffUpTo30SecondsAndFrom1SecondAfterItsReturn)
{
    Line line({1, 2, 3}, {1, 2, 3});
    line.RunTo(5000);
    line.plant.alive.erase(3);
    line.RunTo(100000);
    const std::vector<Asked> dead = line.Of(3, 5000);
    EXPECT_EQ(Pauses(dead), (std::vector<qint64>{0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    EXPECT_EQ(Line::Order(dead, 99), "C C C C C C C C C C") << "a relay that does not answer is asked for its current parameters only";

    // Back: its next question is answered, and its slow blocks are read
    // again at once; gone again, it is paused from 1 s.
    line.plant.alive.insert(3);
    line.RunTo(130000);
    const std::vector<Asked> back = line.Of(3, 100000);
    EXPECT_EQ(Line::Order(back, 13), "C C S C R1 C R2 C R3 C R4 C C");
    line.plant.alive.erase(3);
    line.RunTo(135000);
    EXPECT_EQ(Pauses(line.Of(3, 130000)), (std::vector<qint64>{0, 0, 1000, 2000}));
    EXPECT_GE(line.Of(1, 5000).size(), 2 * line.Of(3, 5000).size());
}
