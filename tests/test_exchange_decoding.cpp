// Replies are decoded by the exchange whose request went out, and only when
// they answer it: frames that do not (short, from another slave, another
// function) touch no control, and a switch of exchange while a reply is
// arriving changes nothing of what that reply shows — for every pair of
// exchanges in the table.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTimeEdit>

#include "app/LedIndicator.h"
#include "app/PageControl.h"
#include "app/UnitMain.h"
#include "exchanges/ExchangeTable.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"

namespace {

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame)
{
    const uint16_t crc = ModbusCrc16(frame.data(), frame.size());
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

// Everything the register controls of every page show, one line each.
QStringList Snapshot(const TForm1& form)
{
    QStringList shown;
    for (int page = 0; page < 8; ++page) {
        for (const BoundControl& c : form.Registers().Page(page)) {
            QString value;
            if (auto* edit = qobject_cast<QLineEdit*>(c.widget))
                value = edit->text();
            else if (auto* box = qobject_cast<QComboBox*>(c.widget))
                value = QString::number(box->currentIndex());
            else if (auto* check = qobject_cast<QCheckBox*>(c.widget))
                value = check->isChecked() ? "on" : "off";
            else if (auto* led = qobject_cast<TLedIndicator*>(c.widget))
                value = led->Checked() ? "on" : "off";
            else if (auto* date = qobject_cast<QDateEdit*>(c.widget))
                value = date->date().toString(Qt::ISODate);
            else if (auto* time = qobject_cast<QTimeEdit*>(c.widget))
                value = time->time().toString(Qt::ISODate);
            shown << c.row->name + QLatin1Char('=') + value + (c.widget->isEnabled() ? "" : " (off)");
        }
    }
    return shown;
}

struct Window {
    TForm1 form;
    FakeLine line;

    explicit Window(int page)
    {
        form.FormShow();
        form.SetLine(&line);
        form.Session().SetSlaveAddress(1);
        form.PageControl1()->SelectFromCode(page);
    }
    // Runs the poll cycle until one request has gone out; returns it.
    std::vector<uint8_t> SendOne()
    {
        form.TimerTimer();
        form.TimerTimer();
        return line.TakeWritten();
    }
    void Deliver(const std::vector<uint8_t>& bytes)
    {
        line.Feed(bytes);
        form.Receive(nullptr, line.BytesWaiting());
    }
};

// Raises the request flag that switches the poll cycle to `mode`.
void RaiseRequestFor(TForm1& form, int32_t mode)
{
    switch (mode) {
    case pmReadParam: form.Exchanges().ReadParamRequest = 1; break;
    case pmReadUstNast: form.Exchanges().ReadUstNastRequest = 1; break;
    case pmReadProtokol: form.Exchanges().ProtokolNumber = 3; form.Exchanges().ReadProtokolRequest = 1; break;
    case pmReadMask: form.Exchanges().ReadMaskRequest = 1; break;
    case pmWriteRegister:
        form.Exchanges().WriteUstRegister = 90;
        form.Exchanges().WriteUstValue = 4;
        form.Exchanges().WriteFrameSent = 0;
        form.Exchanges().WriteUstRequest = 1;
        break;
    default: FAIL() << "no request flag for mode " << mode;
    }
}

// Registers r of the reply hold values no two registers share.
std::vector<uint16_t> DistinctRegisters(const RegisterBlock& block)
{
    std::vector<uint16_t> regs;
    for (int r = block.first; r < block.first + block.count; ++r)
        regs.push_back(uint16_t(r * 37 + 11));
    return regs;
}

// The context that makes an exchange's builder ask for `block`.
uint8_t ContextFor(const Exchange& exchange, const RegisterBlock& block)
{
    if (exchange.mode == pmReadUstNast)
        return block.first == kLiveBlock.first ? ecLiveBlock : ecSettingsBlock;
    return 0;
}

TEST(ExchangeDecoding, MidReplySwitchNeverChangesWhatTheReplyShows)
{
    int pairs = 0;
    for (const Exchange& a : Exchanges()) {
        for (const RegisterBlock& block : a.blocks) {
            for (const Exchange& b : Exchanges()) {
                if (b.mode == a.mode)
                    continue;
                for (int page : {0, 1, 2, 3, 7}) {
                    if (block.first == kLiveBlock.first && a.mode == pmReadUstNast && page == 1)
                        continue;   // "Уставки" always reads its own block
                    SCOPED_TRACE(std::string(a.name) + " block " + std::to_string(block.first) + " then "
                                 + b.name + ", page " + std::to_string(page));
                    Window reference(page), switched(page);
                    for (Window* w : {&reference, &switched}) {
                        w->form.Exchanges().PollMode = a.mode;
                        w->form.Exchanges().ExchangeContext = ContextFor(a, block);
                        w->form.Exchanges().ProtokolNumber =
                            uint8_t(a.mode == pmReadProtokol ? (block.first - 128) / 17 + 1 : 1);
                        const auto request = w->SendOne();
                        ASSERT_EQ(request.size(), 8u);
                        ASSERT_EQ(request[3], block.first);
                        ASSERT_EQ(request[5], block.count);
                    }
                    const auto reply = ReadReply(1, DistinctRegisters(block));
                    reference.Deliver(reply);
                    const size_t half = reply.size() / 2;
                    switched.Deliver({reply.begin(), reply.begin() + long(half)});
                    RaiseRequestFor(switched.form, b.mode);
                    switched.Deliver({reply.begin() + long(half), reply.end()});
                    EXPECT_EQ(Snapshot(switched.form), Snapshot(reference.form));
                    ++pairs;
                }
            }
        }
    }
    EXPECT_GE(pairs, 15);
}

// After a good reply, sound frames that do not answer the request leave every
// field as it was: a short reply would show its CRC as a value.
TEST(ExchangeDecoding, FramesThatDoNotAnswerTheRequestTouchNoControl)
{
    Window w(0);
    w.form.Exchanges().PollMode = pmReadParam;
    w.SendOne();
    w.Deliver(ReadReply(1, CurrentParamRegisters()));
    ASSERT_EQ(w.form.ControlAs<QLineEdit>("E2")->text(), "50");
    const QStringList before = Snapshot(w.form);

    auto wrongFunction = ReadReply(1, CurrentParamRegisters());
    wrongFunction[1] = 4;
    const std::vector<std::vector<uint8_t>> foreign = {
        WithCrc({0x01, 0x03, 0x02, 0x03, 0xE8}),
        ReadReply(2, CurrentParamRegisters()),
        WithCrc({wrongFunction.begin(), wrongFunction.end() - 2}),
        WithCrc({0x01, 0x83, 0x02}),
    };
    for (const auto& frame : foreign) {
        w.SendOne();
        w.Deliver(frame);
        EXPECT_EQ(Snapshot(w.form), before);
    }
    EXPECT_EQ(w.form.Link().MissCount, 4) << "each one a failed exchange";
}

}  // namespace
