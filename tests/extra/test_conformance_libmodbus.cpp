// The window's poll cycle, over the real serial port, against a Modbus RTU
// slave built on libmodbus — an implementation nobody here wrote. Every
// request the tool sends must be accepted by it, and its replies decoded.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <modbus.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "app/LedIndicator.h"
#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "link/LinkState.h"
#include "support/PtyBridge.h"

namespace {

class LibmodbusSlave {
public:
    explicit LibmodbusSlave(const std::string& path)
    {
        ctx_ = modbus_new_rtu(path.c_str(), 9600, 'N', 8, 1);
        modbus_set_slave(ctx_, 1);
        map_ = modbus_mapping_new(0, 0, 256, 0);
        if (modbus_connect(ctx_) != 0)
            throw std::runtime_error("libmodbus could not open the line");
        modbus_set_indication_timeout(ctx_, 0, 100000);
        thread_ = std::thread([this] {
            uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stop_) {
                const int n = modbus_receive(ctx_, query);
                if (n > 0) {
                    modbus_reply(ctx_, query, n, map_);
                    ++answered_;
                }
            }
        });
    }
    ~LibmodbusSlave()
    {
        stop_ = true;
        thread_.join();
        modbus_close(ctx_);
        modbus_free(ctx_);
        modbus_mapping_free(map_);
    }
    uint16_t* registers() { return map_->tab_registers; }
    int answered() const { return answered_; }

private:
    modbus_t* ctx_ = nullptr;
    modbus_mapping_t* map_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
};

// A raw line to the other side of the bridge, for sending single frames.
class RawLine {
public:
    explicit RawLine(const std::string& path)
    {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios t {};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~RawLine() { close(fd_); }
    std::vector<uint8_t> Exchange(const uint8_t* frame, size_t length, size_t expected)
    {
        (void)!write(fd_, frame, length);
        std::vector<uint8_t> got;
        for (int waited = 0; got.size() < expected && waited < 3000; waited += 20) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) {
                uint8_t buf[256];
                const ssize_t n = read(fd_, buf, sizeof buf);
                if (n > 0)
                    got.insert(got.end(), buf, buf + n);
            }
        }
        return got;
    }

private:
    int fd_ = -1;
};

TEST(Conformance, EveryRequestOfTheToolIsAnsweredByLibmodbus)
{
    PtyBridge bridge;
    LibmodbusSlave slave(bridge.pathA());
    for (int r = 0; r < 256; ++r)
        slave.registers()[r] = uint16_t(1000 + r);
    RawLine line(bridge.pathB());

    struct Read { int first, count; };
    const Read reads[] = {{50, 29}, {80, 44}, {50, 11}, {128, 17}, {145, 17}, {162, 17}, {179, 17}, {96, 12}};
    for (const Read& read : reads) {
        LinkState s;
        FillReadRequest(s.TxFrame, 1, read.first, read.count);
        s.SealTxFrame();
        s.RecordSent();
        const auto reply = line.Exchange(s.TxFrame, kRequestLength, size_t(read.count * 2 + 5));
        for (uint8_t b : reply)
            s.AppendRxByte(b);
        ASSERT_EQ(s.AssessReply(), ReplyVerdict::ReadValid) << "read of " << read.count << " from " << read.first;
        EXPECT_EQ(ReplyRegister(s.RxBuffer, read.first, read.first + read.count - 1),
                  1000 + read.first + read.count - 1);
    }
    // Register writes: the clock month, a setting, a mask; each echoed exactly.
    const std::pair<int, uint16_t> writes[] = {{67, 12}, {108, 2500}, {96, 0x7A5F}};
    for (auto [reg, value] : writes) {
        LinkState s;
        FillWriteRequest(s.TxFrame, 1, reg, value);
        s.SealTxFrame();
        s.RecordSent();
        const auto echo = line.Exchange(s.TxFrame, kRequestLength, kRequestLength);
        for (uint8_t b : echo)
            s.AppendRxByte(b);
        EXPECT_EQ(s.AssessReply(), ReplyVerdict::WriteEcho) << "write of register " << reg;
        EXPECT_EQ(slave.registers()[reg], value);
    }
}

TEST(Conformance, WindowShowsTheRegistersOfALibmodbusSlave)
{
    PtyBridge bridge;
    LibmodbusSlave slave(bridge.pathA());
    uint16_t* regs = slave.registers();
    for (int r = 50; r <= 78; ++r)
        regs[r] = uint16_t(r * 7);
    regs[53] = 65535;
    regs[66] = 0x0C01;
    regs[67] = 6; regs[68] = 15; regs[69] = 12; regs[70] = 30; regs[71] = 45;
    regs[78] = 43210;

    setenv("ZASHCHITA_COM1", bridge.pathB().c_str(), 1);
    std::vector<ErrorMessage> messages;
    SetErrorMessageHook([&](const ErrorMessage& m) { messages.push_back(m); });
    {
        TForm1 form;
        form.show();
        QTest::mouseClick(form.ControlAs<QPushButton>(QStringLiteral("ButtonCOM")), Qt::LeftButton);
        auto* e0 = form.ControlAs<QLineEdit>(QStringLiteral("E0"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !e0->text().isEmpty(); }, 15000));
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(e0->text(), "43210");
        const int order[] = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        for (int i = 0; i < 11; ++i)
            EXPECT_EQ(form.ControlAs<QLineEdit>(QStringLiteral("E%1").arg(order[i]))->text(),
                      QString::number(regs[50 + i]));
        EXPECT_EQ(form.ControlAs<QLineEdit>(QStringLiteral("E1"))->text(), "00001100 00000001");
        EXPECT_TRUE(form.ControlAs<TLedIndicator>(QStringLiteral("L10"))->Checked());
        EXPECT_FALSE(form.ControlAs<TLedIndicator>(QStringLiteral("L9"))->Checked());
        // Several exchanges in a row keep being accepted.
        const int before = slave.answered();
        QTest::qWait(600);
        EXPECT_GT(slave.answered(), before + 2);
        EXPECT_LT(form.Link().MissCount, 5);

        QTest::mouseClick(form.ControlAs<QPushButton>(QStringLiteral("ButtonCOM")), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.ComPort()->Connected(); }, 5000));
    }
    SetErrorMessageHook({});
    unsetenv("ZASHCHITA_COM1");
}

}  // namespace
