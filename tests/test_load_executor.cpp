// The load's policy against a scripted relay: each planned write's fate, the
// questions asked in order (address, probe, register), the stop at the first
// write not confirmed, the new relay address checked free and confirmed
// there, and the read-back where the relay answers.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>

#include "exchanges/ExchangeTable.h"
#include "settings/LoadExecutor.h"

namespace {

struct Scripted {
    Outcome outcome;
    LoadCause cause = LoadCause::None;
    int code = 0;            // exceptionCode, or the stored value of an altered write
    int tries = 1;
    uint16_t address80 = 0;  // a read's register 80 (0: the read-back as the plan expects)
};

class ScriptedAsker : public LoadAsker {
public:
    explicit ScriptedAsker(std::deque<Scripted> script) : script_(std::move(script)) {}
    void Read(const RegisterBlock& block, int address, int, bool probe, Done done) override
    {
        asked << QStringLiteral("R%1x%2@%3%4").arg(block.first).arg(block.count).arg(address ? address : address_)
                     .arg(probe ? "p" : "");
        if (!probe && block.count == 1 && !script_.empty() && script_.front().outcome == Outcome::Values)
            readBack[0] = script_.front().address80;   // our relay found at its new address
        if (onAsk)
            onAsk();
        answer(block.count, std::move(done));
    }
    void Write(int reg, uint16_t value, int address, Done done) override
    {
        asked << QStringLiteral("W%1=%2@%3").arg(reg).arg(value).arg(address ? address : address_);
        if (onAsk)
            onAsk();
        if (!script_.empty() && script_.front().outcome == Outcome::Echoed)
            readBack[size_t(reg - kSettingsBlock.first)] = value;
        answer(0, std::move(done));
    }
    void Abandon() override {}
    int Address() const override { return address_; }
    void SetAddress(int address) override { address_ = address; }

    QStringList asked;
    std::function<void()> onAsk;      // as each question goes out
    std::vector<uint16_t> readBack;   // what a full read returns: the echoed writes' values

private:
    void answer(int count, Done done)
    {
        LoadAnswer a;
        if (script_.empty()) {
            ADD_FAILURE() << "a question beyond the script: " << asked.last().toStdString();
        } else {
            const Scripted s = script_.front();
            script_.pop_front();
            a.outcome = s.outcome;
            a.cause = s.cause;
            a.tries = s.outcome == Outcome::NotSent || s.outcome == Outcome::Aborted ? 0 : s.tries;
            a.exceptionCode = s.outcome == Outcome::Altered ? 0 : s.code;
            a.stored = uint16_t(s.code);
            if (s.outcome == Outcome::Values)
                a.values = count == 1 ? std::vector<uint16_t>{s.address80} : readBack;
        }
        QTimer::singleShot(0, [done = std::move(done), a] { done(a); });
    }
    std::deque<Scripted> script_;
    int address_ = 1;
};

const Scripted kEcho{Outcome::Echoed};
const Scripted kSilent{Outcome::NoAnswer, LoadCause::None, 0, 3};
const Scripted kNoReadReply{Outcome::NoAnswer, LoadCause::None, 0, 3};
const Scripted kBlock{Outcome::Values};

// The relay holds 0 in every setting but its address, 1.
LoadPlan Plan(const std::vector<std::pair<const char*, uint16_t>>& writes, std::vector<uint16_t>& relay)
{
    LoadPlan plan;
    relay.assign(size_t(kSettingsBlock.count), 0);
    relay[0] = 1;
    for (const auto& [name, to] : writes) {
        const SettingSpec* d = FindSetting(QLatin1String(name));
        plan.writes.push_back({d, 0, to});
        plan.expected.push_back({d, to});
    }
    return plan;
}

}  // namespace

TEST(LoadExecutor, EachWriteEndsAsTheRelayAnsweredAndTheFirstNotConfirmedStopsTheLoad)
{
    using F = WriteFate;
    const std::vector<std::pair<const char*, uint16_t>> three{{"SE2", 610}, {"SE3", 55}, {"SE4", 510}};
    const std::vector<std::pair<const char*, uint16_t>> address{{"NSE1", 5}};
    const Scripted taken{Outcome::Values, {}, 0, 1, 5};
    const Scripted refusedThere{Outcome::Refused, LoadCause::None, 2};
    const Scripted heldThere{Outcome::Values, {}, 0, 1, 5};
    const Scripted otherThere{Outcome::Values, {}, 0, 1, 7};
    const struct {
        const char* what;
        std::vector<std::pair<const char*, uint16_t>> writes;
        std::deque<Scripted> script;
        std::vector<F> fates;
        QStringList asked;
        bool readBack;
        int readAt;   // where the read-back was answered
        bool taken = false;   // the new address found taken by another device
    } cases[] = {
        {"all echoed", three, {kEcho, kEcho, kEcho, kBlock}, {F::Written, F::Written, F::Written},
         {"W81=610@1", "W82=55@1", "W83=510@1", "R80x44@1"}, true, 1},
        {"refused", three, {kEcho, {Outcome::Refused, {}, 4}, kBlock}, {F::Written, F::Refused, F::NotSent},
         {"W81=610@1", "W82=55@1", "R80x44@1"}, true, 1},
        {"altered", three, {{Outcome::Altered, {}, 500}, kBlock}, {F::Altered, F::NotSent, F::NotSent},
         {"W81=610@1", "R80x44@1"}, true, 1},
        {"no echo", three, {kEcho, kSilent, kBlock}, {F::Written, F::Unconfirmed, F::NotSent},
         {"W81=610@1", "W82=55@1", "R80x44@1"}, true, 1},
        {"line lost after the send", three, {kEcho, {Outcome::Unconfirmed, LoadCause::LineLost}},
         {F::Written, F::Unconfirmed, F::NotSent}, {"W81=610@1", "W82=55@1"}, false, 0},
        {"line lost before the send", three, {{Outcome::Aborted, LoadCause::LineLost}},
         {F::NotSent, F::NotSent, F::NotSent}, {"W81=610@1"}, false, 0},
        {"new address answers", address, {taken, kBlock}, {F::NotSent}, {"R80x1@5p", "R80x44@1"}, true, 1, true},
        {"new address refuses", address, {refusedThere, kBlock}, {F::NotSent}, {"R80x1@5p", "R80x44@1"}, true, 1, true},
        {"new address free", address, {kNoReadReply, kEcho, kBlock}, {F::Written},
         {"R80x1@5p", "W80=5@1", "R80x44@5"}, true, 5},
        {"echo lost, read there", address, {kNoReadReply, kSilent, heldThere, kBlock}, {F::Written},
         {"R80x1@5p", "W80=5@1", "R80x1@5", "R80x44@5"}, true, 5},
        {"echo lost, another value there", address, {kNoReadReply, kSilent, otherThere, kBlock}, {F::Unconfirmed},
         {"R80x1@5p", "W80=5@1", "R80x1@5", "R80x44@1"}, true, 1},
        {"echo lost, not there", address, {kNoReadReply, kSilent, kNoReadReply, kBlock}, {F::Unconfirmed},
         {"R80x1@5p", "W80=5@1", "R80x1@5", "R80x44@1"}, true, 1},
        {"taken on restart only", address, {kNoReadReply, kEcho, kNoReadReply, kBlock}, {F::Written},
         {"R80x1@5p", "W80=5@1", "R80x44@5", "R80x44@1"}, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint16_t> relay;
        const LoadPlan plan = Plan(c.writes, relay);
        ScriptedAsker asker(c.script);
        asker.readBack = relay;
        LoadExecutor load(asker, plan);
        load.Start();
        const bool ended = QTest::qWaitFor([&] { return !load.Running(); }, 5000);
        EXPECT_TRUE(ended);
        if (!ended)
            continue;   // the next row runs all the same
        const LoadResult& r = load.Result();
        std::vector<F> fates;
        for (const SettingWriteEnd& s : r.settings)
            fates.push_back(s.fate);
        EXPECT_EQ(fates, c.fates);
        EXPECT_EQ(asker.asked, c.asked);
        EXPECT_EQ(r.readBack.has_value(), c.readBack);
        EXPECT_EQ(r.readBackAddress, c.readAt);
        EXPECT_EQ(r.settings[0].addressTaken, c.taken);
        // The read-back holds every write's value only where all were written.
        EXPECT_EQ(r.RelayHoldsPlan(), c.readBack && r.AllWritten());
    }
}

TEST(LoadExecutor, AStopLetsTheWriteInFlightEndAndSendsNoMore)
{
    const struct {
        const char* what;
        std::vector<std::pair<const char*, uint16_t>> writes;
        std::deque<Scripted> script;
        bool duringFirstQuestion;   // else once the first write has ended
        QStringList asked;
    } cases[] = {
        {"after a write", {{"SE2", 610}, {"SE3", 55}}, {kEcho, kEcho, kBlock}, false, {"W81=610@1"}},
        {"during the new address's probe", {{"NSE1", 5}}, {kNoReadReply, kEcho, kBlock}, true, {"R80x1@5p"}},
    };
    for (const auto& c : cases) {
        std::vector<uint16_t> relay;
        const LoadPlan plan = Plan(c.writes, relay);
        ScriptedAsker asker(c.script);
        asker.readBack = relay;
        LoadExecutor load(asker, plan);
        if (c.duringFirstQuestion)
            asker.onAsk = [&] { load.Stop(); };
        else
            QObject::connect(&load, &LoadExecutor::writeEnded, &load, [&] { load.Stop(); });
        load.Start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !load.Running(); }, 5000)) << c.what;
        EXPECT_EQ(asker.asked, c.asked) << c.what;
        EXPECT_EQ(load.Result().settings.back().fate, WriteFate::NotSent) << c.what;
        EXPECT_TRUE(load.Result().stopped) << c.what;
        EXPECT_FALSE(load.Result().readBackAsked) << c.what;
    }
}
