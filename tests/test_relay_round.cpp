// Many relays on one line in turn: a dead relay is backed off and costs the
// live ones little of their rate, and one that answers again is asked at full
// rate at once. Time here is the session's ticks, so the figures are counts,
// not timings.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <set>

#include "link/RelayRound.h"
#include "link/RelaySession.h"
#include "support/RelaysInMemory.h"

namespace {

struct Round {
    static constexpr int kTickMs = 5;
    RelaysInMemory line;
    RelaySession session{SessionOptions{kTickMs, 30, 0, false}};
    RelayRound round;
    qint64 ticks = 0;
    std::vector<int> asked;                  // the address of each question, in order
    std::vector<std::pair<int, bool>> looks;

    explicit Round(std::vector<int> addresses) : round(session, std::move(addresses))
    {
        session.SetLine(&line);
        session.State().ReadyToSend = 1;
        round.clock = [this] { return ticks * kTickMs; };
        round.nextQuestion = [](int address) { return Question::Read({50, 29}, address); };
        QObject::connect(&round, &RelayRound::answered, [this](int address, const Answer&) { asked.push_back(address); });
        QObject::connect(&round, &RelayRound::relayLookChanged,
                         [this](int address, bool present) { looks.emplace_back(address, present); });
        round.Start();
    }
    void Run(qint64 ms)
    {
        for (const qint64 end = ticks + ms / kTickMs; ticks < end; ++ticks) {
            session.Tick();
            if (line.BytesWaiting() > 0)
                session.Receive(line.BytesWaiting());
        }
    }
    int Count(int address, size_t from = 0) const { return int(std::count(asked.begin() + long(from), asked.end(), address)); }
};

TEST(RelayRound, DeadRelayIsBackedOffAndAnAnsweringOneAskedAtOnce)
{
    Round two({1, 2});
    two.line.alive = {1, 2};
    two.Run(60000);

    Round three({1, 2, 3});
    three.line.alive = {1, 2};
    three.Run(60000);
    for (int live : {1, 2})
        EXPECT_GE(three.Count(live), 0.9 * two.Count(live)) << live;
    // Three misses, then pauses of 1, 2, 4, 8, 16 and 30 s within the minute.
    EXPECT_LE(three.Count(3), 3 + 6);
    EXPECT_FALSE(three.round.Present(3));
    EXPECT_TRUE(three.round.Present(1));
    EXPECT_EQ(three.looks.back(), std::make_pair(3, false));

    // It answers again: from its first answer on, it has every third turn.
    three.line.alive.insert(3);
    const size_t before = three.asked.size();
    three.Run(40000);
    const auto back = std::find(three.asked.begin() + long(before), three.asked.end(), 3);
    ASSERT_NE(back, three.asked.end());
    const size_t from = size_t(back - three.asked.begin()) + 1;
    ASSERT_GE(three.asked.size() - from, 30u);
    for (size_t k = from; k + 3 <= three.asked.size(); k += 3)
        EXPECT_EQ(std::set<int>(three.asked.begin() + long(k), three.asked.begin() + long(k) + 3), (std::set<int>{1, 2, 3}))
            << "turns from " << k;
    EXPECT_TRUE(three.round.Present(3));

    three.round.Stop();
    EXPECT_EQ(three.session.PendingQuestions(), 0);
}

}  // namespace
