// The address search over relays in memory: a device that refuses the read
// holds its address as surely as one that answers, an address asked in vain
// is no miss of the link, and a search started while a question of the
// window's waits on the line queues behind it instead of standing still.
#include <gtest/gtest.h>

#include <QWidget>

#include <algorithm>

#include "app/AddressSearch.h"
#include "app/SpinEdit.h"
#include "link/RelaySession.h"
#include "support/RelaysInMemory.h"

namespace {

TEST(AddressSearchInMemory, RefusingDeviceIsFoundAndSilentAddressesAreNoMisses)
{
    RelaysInMemory line;
    line.alive = {9, 200};
    line.refusing = {5};
    RelaySession session{SessionOptions{5, 30, 0, false}};
    session.SetLine(&line);
    session.State().SlaveAddress = 1;
    session.State().ReadyToSend = 1;
    std::vector<bool> looks;
    QObject::connect(&session, &RelaySession::linkLookChanged, [&](bool present) { looks.push_back(present); });
    QWidget window;
    auto* field = new TSpinEdit(&window);
    AddressSearch search(session, field, &window);

    // A save's read is on the line when the search starts: the probes wait
    // their turn behind it, and the read gets its own answer.
    std::vector<Answer> saved;
    line.alive.insert(1);
    QObject::connect(session.Ask(Question::Read({80, 44})), &SessionReply::finished,
                     [&](const Answer& a) { saved.push_back(a); });
    session.Tick();
    session.Tick();
    ASSERT_EQ(line.asked, std::vector<int>{1});
    line.alive.erase(1);
    ASSERT_TRUE(search.Start());
    for (int tick = 0; tick < 100000 && search.Running(); ++tick) {
        session.Tick();
        if (line.BytesWaiting() > 0)
            session.Receive(line.BytesWaiting());
    }
    ASSERT_FALSE(search.Running());
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].outcome, ReplyOutcome::Values);
    ASSERT_EQ(line.asked.size(), size_t(1 + AddressSearch::kLastAddress));
    for (int address = 1; address <= AddressSearch::kLastAddress; ++address)
        EXPECT_EQ(line.asked[size_t(address)], address);

    EXPECT_EQ(search.Found(), (std::vector<int>{5, 9, 200}));
    EXPECT_EQ(session.State().SlaveAddress, 5);
    EXPECT_EQ(session.State().MissCount, 0);
    EXPECT_EQ(std::count(looks.begin(), looks.end(), false), 0);
}

}  // namespace
