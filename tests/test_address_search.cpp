// The address search over relays in memory: a device that refuses the read
// holds its address as surely as one that answers, an address asked in vain
// is no miss of the link, and a search started while a save's read waits on
// the line queues its probes behind it instead of standing still.
#include <gtest/gtest.h>

#include <QWidget>

#include "app/AddressSearch.h"
#include "app/SpinEdit.h"
#include "link/RelaySession.h"
#include "support/RelaysInMemory.h"

TEST(AddressSearchInMemory, RefusingDeviceIsFoundAndSilentAddressesAreNoMisses)
{
    RelaysInMemory line;
    line.alive = {1, 9, 200};
    line.refusing = {5};
    RelaySession session{SessionOptions{5, 30, 0, false}};
    session.SetLine(&line);
    session.SetSlaveAddress(1);
    int lost = 0;
    QObject::connect(&session, &RelaySession::linkLookChanged, [&](bool present) { lost += !present; });
    QWidget window;
    AddressSearch search(session, new TSpinEdit(&window), &window);

    Answer saved;
    QObject::connect(session.Ask(Question::Read({80, 44})), &SessionReply::finished, [&](const Answer& a) { saved = a; });
    session.Tick();
    session.Tick();   // the save's read is on the line, its answer not yet taken
    line.alive.erase(1);
    ASSERT_TRUE(search.Start());
    for (int tick = 0; tick < 100000 && search.Running(); ++tick) {
        session.Tick();
        if (line.BytesWaiting() > 0)
            session.Receive(line.BytesWaiting());
    }
    ASSERT_FALSE(search.Running());
    EXPECT_EQ(saved.outcome, Outcome::Values);
    // Each address once, and those that answered once more.
    std::vector<int> asked{1};
    for (int address = 1; address <= AddressSearch::kLastAddress; ++address)
        asked.insert(asked.end(), address == 5 || address == 9 || address == 200 ? 2 : 1, address);
    EXPECT_EQ(line.asked, asked);
    EXPECT_EQ(search.Found(), (std::vector<int>{5, 9, 200}));
    EXPECT_EQ(session.State().SlaveAddress, 5);
    EXPECT_EQ(session.State().MissCount, 0);
    EXPECT_EQ(lost, 0);
}
