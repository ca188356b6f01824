// Page 0 of the main window fed by the poll cycle over a line in memory:
// every field decoded, the status LEDs, the relay's clock in the pickers.
#include <gtest/gtest.h>

#include <QDateEdit>
#include <QLabel>
#include <QTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>

#include "app/LedIndicator.h"
#include "app/UnitMain.h"
#include "exchanges/LocaleFormats.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"

namespace {

struct CurrentPage : ::testing::Test {
    TForm1 form;
    FakeLine line;

    void SetUp() override
    {
        form.FormShow();
        form.SetLine(&line);
        form.Session().SetSlaveAddress(1);
        form.Exchanges().PollMode = 5;
    }
    QString Text(const char* name) { return form.ControlAs<QLineEdit>(QLatin1String(name))->text(); }
    bool Lit(int i) { return form.ControlAs<TLedIndicator>(QStringLiteral("L%1").arg(i))->Checked(); }
    QDateEdit* DPicker() { return form.ControlAs<QDateEdit>(QStringLiteral("DPicker")); }
    QTimeEdit* TPicker() { return form.ControlAs<QTimeEdit>(QStringLiteral("TPicker")); }

    // One exchange: the request goes out, the reply comes back in two pieces.
    void Exchange(const std::vector<uint16_t>& regs)
    {
        form.TimerTimer();
        form.TimerTimer();
        ASSERT_EQ(line.TakeWritten(),
                  (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x32, 0x00, 0x1D, 0x24, 0x0C}));
        const auto reply = ReadReply(1, regs);
        line.Feed({reply.begin(), reply.begin() + 30});
        form.Receive(nullptr, line.BytesWaiting());
        line.Feed({reply.begin() + 30, reply.end()});
        form.Receive(nullptr, line.BytesWaiting());
    }
    static std::vector<uint16_t> Regs(const std::vector<std::pair<int, uint16_t>>& set)
    {
        auto regs = CurrentParamRegisters();
        regs[66 - 50] = 0;
        regs[67 - 50] = 6;
        regs[68 - 50] = 15;
        regs[69 - 50] = 12;
        regs[70 - 50] = 30;
        regs[71 - 50] = 45;
        for (auto [reg, value] : set)
            regs[reg - 50] = value;
        return regs;
    }
};

TEST_F(CurrentPage, FreshWindowHasZeroedLinkStateAndEmptyFields)
{
    TForm1 other;
    EXPECT_EQ(other.Exchanges().PollMode, 0);
    EXPECT_EQ(other.Link().MissCount, 0);
    EXPECT_EQ(other.Link().ReadyToSend, 0);
    EXPECT_EQ(other.Link().RxCount, 0);
    EXPECT_EQ(other.Exchanges().ReadParamRequest + other.Exchanges().WriteUstRequest + other.Exchanges().WriteFrameSent, 0);
    EXPECT_EQ(Text("E1"), QString());   // the design text is cleared on first show
}

TEST_F(CurrentPage, EveryFieldIsDecodedUnsignedAsPlainDecimal)
{
    Exchange(Regs({{50, 97}, {51, 98}, {52, 99}, {53, 65535}, {54, 3}, {55, 4}, {56, 45},
                   {57, 60}, {58, 5400}, {59, 610}, {60, 392}, {78, 12345}}));
    EXPECT_EQ(Text("E0"), "12345");
    EXPECT_EQ(Text("E2"), "97");
    EXPECT_EQ(Text("E3"), "98");
    EXPECT_EQ(Text("E4"), "99");
    EXPECT_EQ(Text("E5"), "65535");
    EXPECT_EQ(Text("E6"), "3");
    EXPECT_EQ(Text("E7"), "4");
    EXPECT_EQ(Text("E8"), "45");
    EXPECT_EQ(Text("E9"), "60");
    EXPECT_EQ(Text("E10"), "5400");
    EXPECT_EQ(Text("E11"), "610");
    EXPECT_EQ(Text("E12"), "392");
    EXPECT_EQ(Text("E1"), "00000000 00000000");
    EXPECT_EQ(form.Link().RxCount, 0);
    EXPECT_EQ(form.Link().ReadyToSend, 1);
}

TEST_F(CurrentPage, StatusWordDrivesTheTextAndFifteenLeds)
{
    Exchange(Regs({{66, 0x8000}}));
    EXPECT_EQ(Text("E1"), "10000000 00000000");
    for (int i = 0; i <= 14; ++i)
        EXPECT_FALSE(Lit(i)) << i;

    Exchange(Regs({{66, 0x7FFF}}));
    EXPECT_EQ(Text("E1"), "01111111 11111111");
    for (int i = 0; i <= 14; ++i)
        EXPECT_TRUE(Lit(i)) << i;

    Exchange(Regs({{66, 0x0C01}}));   // instantaneous trip, motor on, start finished
    for (int i = 0; i <= 14; ++i)
        EXPECT_EQ(Lit(i), i == 0 || i == 10 || i == 11) << i;
}

TEST_F(CurrentPage, RelayClockInThePickersWithThePcYear)
{
    Exchange(Regs({}));
    EXPECT_EQ(DPicker()->date(), QDate(QDate::currentDate().year(), 6, 15));
    EXPECT_EQ(TPicker()->time(), QTime(12, 30, 45));
}

// The PC's clock is shown with the relay's new second, in its repaint; Timer1
// waits for the next one a little longer than a second, then shows it itself.
TEST_F(CurrentPage, PcClockIsShownWithTheRelaysNewSecond)
{
    QDateTime pc(QDate(2026, 12, 8), QTime(9, 0, 0));
    form.SetNow([&] { return pc; });
    const auto shown = [&] { return form.ControlAs<QLabel>(QStringLiteral("LabelDT"))->text(); };
    // The relay's second, and whether the PC's clock is shown with it.
    for (const auto [relaySecond, shownWithIt] : {std::pair{45, true}, {45, false}, {46, true}}) {
        const QString before = shown();
        pc = pc.addSecs(1);
        Exchange(Regs({{71, uint16_t(relaySecond)}}));
        EXPECT_EQ(shown(), shownWithIt ? LocalDateTimeText(pc) : before) << relaySecond;
        EXPECT_EQ(form.Timer1()->interval(), TForm1::kPcClockMs + TForm1::kPcClockGraceMs);
    }
    pc = pc.addSecs(1);
    form.Timer1Timer();
    EXPECT_EQ(shown(), LocalDateTimeText(pc));
    EXPECT_EQ(form.Timer1()->interval(), TForm1::kPcClockMs);
}

TEST_F(CurrentPage, ClockOutOfRangeOrNonexistentShowsTheFallbackAndPollingGoesOn)
{
    const std::vector<std::vector<std::pair<int, uint16_t>>> bad = {
        {{67, 13}}, {{67, 0}}, {{68, 32}}, {{69, 24}}, {{70, 60}}, {{71, 60}},
        {{67, 4}, {68, 31}}, {{67, 2}, {68, 30}},
    };
    for (const auto& set : bad) {
        Exchange(Regs({{50, 77}}));
        Exchange(Regs(set));
        EXPECT_EQ(DPicker()->date(), QDate(2001, 1, 1));
        EXPECT_EQ(TPicker()->time(), QTime(1, 0, 0));
        EXPECT_EQ(Text("E2"), "50");   // the rest of the reply is shown
        EXPECT_EQ(form.Link().ReadyToSend, 1);
    }
}

TEST_F(CurrentPage, PickersAreHeldWhileTheUserClockAwaitsWriting)
{
    Exchange(Regs({}));
    form.ControlAs<QPushButton>(QStringLiteral("ButtonDT"))->setVisible(true);
    DPicker()->setDate(QDate(2030, 3, 3));
    TPicker()->setTime(QTime(3, 3, 3));
    Exchange(Regs({{50, 88}, {67, 7}}));
    EXPECT_EQ(Text("E2"), "88");
    EXPECT_EQ(DPicker()->date(), QDate(2030, 3, 3));
    EXPECT_EQ(TPicker()->time(), QTime(3, 3, 3));
}

TEST_F(CurrentPage, WrongCrcLeavesTheDisplayUntouched)
{
    Exchange(Regs({{50, 11}}));
    form.TimerTimer();
    form.TimerTimer();
    line.TakeWritten();
    auto reply = ReadReply(1, Regs({{50, 22}}));
    reply.back() ^= 0x5A;
    line.Feed(reply);
    form.Receive(nullptr, line.BytesWaiting());
    EXPECT_EQ(Text("E2"), "11");
    EXPECT_EQ(form.Link().MissCount, 1);
}

TEST_F(CurrentPage, AddressTakesOnlyItsLowByteIntoTheRequest)
{
    form.Session().SetSlaveAddress(0x0102);
    form.TimerTimer();
    form.TimerTimer();
    const auto frame = line.TakeWritten();
    ASSERT_EQ(frame.size(), 8u);
    EXPECT_EQ(frame[0], 0x02);
}

}  // namespace
