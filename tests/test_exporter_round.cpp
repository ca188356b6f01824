// The questions one exporter line asks its relays, in order, over relays in
// memory and on the test's own clock (a tick a millisecond, no sleep).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "LinePoller.h"
#include "PollBus.h"
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
        if (first == 50)
            registers[size_t(kStatusRegister - first)] = status[address];
        Feed(ReadReply(uint8_t(address), registers));
    }
};

struct Line {
    qint64 ms = 0;
    Plant plant;
    PollBus out;   // with no output: the events go nowhere
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
    // The questions to `address` asked from `from` on.
    std::vector<Asked> Of(int address, qint64 from = 0) const
    {
        std::vector<Asked> out;
        for (const Asked& a : plant.asked)
            if (a.address == address && a.ms >= from)
                out.push_back(a);
        return out;
    }
};

// "C S C R1 ..." of the first `count`.
std::string Order(const std::vector<Asked>& asked, size_t count)
{
    std::string order;
    for (size_t k = 0; k < std::min(count, asked.size()); ++k)
        order += (k ? " " : "") + asked[k].block;
    return order;
}

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

TEST(ExporterRound, SlowBlocksEvery10SecondsAtOnceAfterAStatusChangeAndAgainWhenNotRead)
{
    Line line({1, 2}, {1, 2});
    line.plant.drop = {{2, 80}, {2, 145}};   // relay 2's settings and record 2, once
    line.RunTo(25000);
    EXPECT_EQ(Order(line.Of(1), 14), "C S C R1 C R2 C R3 C R4 C C C C");
    EXPECT_EQ(Order(line.Of(2), 16), "C S C S C R1 C R2 C R2 C R3 C R4 C C");
    std::vector<Asked> slow, all = line.Of(1);
    std::copy_if(all.begin(), all.end(), std::back_inserter(slow), [](const Asked& a) { return a.block != "C"; });
    ASSERT_EQ(Order(slow, 99), "S R1 R2 R3 R4 S R1 R2 R3 R4 S R1 R2 R3 R4");
    for (size_t cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        EXPECT_GE(slow[cycle * 5].ms, qint64(cycle) * 10000);
        EXPECT_LT(slow[cycle * 5].ms, qint64(cycle) * 10000 + 200);
    }
    line.plant.status[1] = 0x0208;
    line.RunTo(28000);
    const std::vector<Asked> after = line.Of(1, 25000);
    EXPECT_EQ(Order(after, 14), "C C S C R1 C R2 C R3 C R4 C C C");
    EXPECT_LT(after.at(2).ms, 25100);
    EXPECT_EQ(Order(line.Of(2, 25000), 3), "C C C") << "relay 2's status has not changed";
}

TEST(ExporterRound, ADeadRelayIsBackedOffUpTo30SecondsAndFrom1SecondAfterItsReturn)
{
    Line line({1, 2, 3}, {1, 2, 3});
    line.RunTo(5000);
    line.plant.alive.erase(3);
    line.RunTo(100000);
    const std::vector<Asked> dead = line.Of(3, 5000);
    EXPECT_EQ(Pauses(dead), (std::vector<qint64>{0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    EXPECT_EQ(Order(dead, 99), "C C C C C C C C C C") << "a relay that does not answer is asked for its current parameters only";

    // Back: its next question is answered, and its slow blocks are read
    // again at once; gone again, it is paused from 1 s.
    line.plant.alive.insert(3);
    line.RunTo(130000);
    const std::vector<Asked> back = line.Of(3, 100000);
    EXPECT_EQ(Order(back, 13), "C C S C R1 C R2 C R3 C R4 C C");
    line.plant.alive.erase(3);
    line.RunTo(135000);
    EXPECT_EQ(Pauses(line.Of(3, 130000)), (std::vector<qint64>{0, 0, 1000, 2000}));
}

// Relays changed on the run: the one kept keeps its schedule, the dead one
// its back-off; one renamed at its address and one new start afresh.
TEST(ExporterRound, RelaysChangedOnTheRunKeepWhatTheyWere)
{
    Line line({1, 2, 3}, {1, 2, 4});
    line.RunTo(35000);
    LineConfig next = line.poller->Config();
    next.relays[1].name = QStringLiteral("X2");
    next.relays.push_back({QStringLiteral("R4"), 4, {}});
    EXPECT_TRUE(line.poller->Reconfigure(next));
    EXPECT_FALSE(line.poller->Reconfigure(next)) << "nothing changed the second time";
    line.RunTo(38000);
    EXPECT_EQ(Order(line.Of(1, 35000), 6), "C C C C C C");
    EXPECT_EQ(Order(line.Of(2, 35000), 4), "C S C R1");
    EXPECT_EQ(Order(line.Of(4, 35000), 4), "C S C R1");
    EXPECT_EQ(line.Of(3, 35000).size(), 0u) << "relay 3 is still backed off";
}
