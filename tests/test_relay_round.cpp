// Many relays on one line in turn, in the session's ticks (so the figures
// are counts, not timings): a dead relay is backed off and costs the live
// ones little of their rate; one that answers again has its turn at once.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/RelayRound.h"
#include "link/RelaySession.h"
#include "support/RelaysInMemory.h"

namespace {

struct Round {
    RelaysInMemory line;
    RelaySession session{SessionOptions{5, 30, 0, false}};
    RelayRound round;
    qint64 ticks = 0;
    std::vector<int> asked;   // the address of each question, in order

    Round(std::vector<int> addresses, std::set<int> alive) : round(session, std::move(addresses))
    {
        line.alive = std::move(alive);
        session.SetLine(&line);
        round.clock = [this] { return ticks * 5; };
        round.nextQuestion = [](int address) { return Question::Read({50, 29}, address); };
        QObject::connect(&round, &RelayRound::answered, [this](int address, const Answer&) { asked.push_back(address); });
        round.Start();
    }
    void Run(qint64 ms)
    {
        for (const qint64 end = ticks + ms / 5; ticks < end; ++ticks) {
            session.Tick();
            if (line.BytesWaiting() > 0)
                session.Receive(line.BytesWaiting());
        }
    }
    int Count(int address) const { return int(std::count(asked.begin(), asked.end(), address)); }
};

TEST(RelayRound, DeadRelayIsBackedOffAndAnAnsweringOneAskedAtOnce)
{
    Round two({1, 2}, {1, 2});
    two.Run(60000);
    Round three({1, 2, 3}, {1, 2});
    three.Run(60000);
    for (int live : {1, 2})
        EXPECT_GE(three.Count(live), 0.9 * two.Count(live)) << live;
    EXPECT_LE(three.Count(3), 3 + 5) << "three misses, then pauses of 1, 2, 4, 8 and 16 s";
    EXPECT_FALSE(three.round.Present(3));
    EXPECT_TRUE(three.round.Present(1));

    // It answers again: from its first answer on, it has every third turn.
    three.line.alive.insert(3);
    const size_t before = three.asked.size();
    three.Run(40000);
    const size_t from = size_t(std::find(three.asked.begin() + long(before), three.asked.end(), 3) - three.asked.begin()) + 1;
    ASSERT_GE(three.asked.size(), from + 30);
    for (size_t k = from; k + 3 <= three.asked.size(); k += 3)
        EXPECT_EQ(std::set<int>(three.asked.begin() + long(k), three.asked.begin() + long(k) + 3), (std::set<int>{1, 2, 3})) << k;
    EXPECT_TRUE(three.round.Present(3));
    three.round.Stop();
    EXPECT_EQ(three.session.PendingQuestions(), 0);
}

}  // namespace

// The dead relay's pauses (less the reply time-out and a turn of the live
// one): 1 s, doubled up to 30 s; and from 1 s again once it has answered.
TEST(RelayRound, BackOffDoublesUpTo30SecondsAndStartsAgainAfterAnAnswer)
{
    Round two({1, 2}, {1});
    std::vector<qint64> ends, pauses;
    QObject::connect(&two.round, &RelayRound::answered, [&](int address, const Answer&) {
        if (address == 2 && !ends.empty())
            pauses.push_back((two.ticks * 5 - ends.back() - 150) / 100 * 100);
        if (address == 2)
            ends.push_back(two.ticks * 5);
    });
    two.Run(95000);
    EXPECT_EQ(pauses, (std::vector<qint64>{0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    two.line.alive.insert(2);
    two.Run(30000);
    two.line.alive.erase(2);
    pauses.clear();
    two.Run(5000);
    EXPECT_EQ(pauses, (std::vector<qint64>{0, 0, 0, 1000, 2000}));
}
