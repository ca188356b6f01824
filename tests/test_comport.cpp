// TComPort against pseudo-terminal pairs: the port opens the slave side
// (through ZASHCHITA_COMn), the test plays the far end on the master side.
#include <gtest/gtest.h>

#include "serial/ComPort.h"
#include "serial/RxWatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// A pty pair mapped to COMn. The slave stays open here as well, so its
// settings can be inspected and it outlives the port's closes and reopens.
struct Pty {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    int slave = -1;
    std::string path;

    explicit Pty(int comNumber)
    {
        grantpt(master);
        unlockpt(master);
        path = ptsname(master);
        slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        setenv(("ZASHCHITA_COM" + std::to_string(comNumber)).c_str(), path.c_str(), 1);
    }
    ~Pty()
    {
        closeMaster();
        ::close(slave);
    }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void send(const std::string& bytes) const
    {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    std::string receive(size_t n) const   // what the port sent, up to 5 s for n bytes
    {
        std::string got;
        char buf[256];
        for (int i = 0; i < 500 && got.size() < n; ++i) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0 && ::read(master, buf, 1) == 1)
                got += buf[0];
        }
        return got;
    }
};

// Runs the main event loop as the application does.
void runEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Spin detectors count the port's wake-ups, not CPU time, so a loaded or
// sanitizer build cannot fail them. Waiting bytes nobody reads are offered
// about 30 times a second; a spin would be thousands.
constexpr size_t kOffersPerSecond = 200;
// After the device has gone: none expected, a few tolerated.
constexpr quint64 kQuietWakeUps = 5;

// The port as the main window sets it up.
void setUpLikeWindow(TComPort& port, int comNumber)
{
    port.Timeouts = TComTimeouts{-1, 200, 200, 0, 0};
    port.Events = {evRxChar};
    port.SetSyncMethod(smWindowSync);
    port.SetPort(QStringLiteral("COM%1").arg(comNumber));
}

// A link that counts connection notices and what Connected() said in each.
// Declared before the port it watches: the port's destructor closes and
// tells its links, so the counter must still be there then.
struct ConnCounter {
    TComLink link;
    int on = 0, off = 0;
    std::vector<bool> seen;
    void Attach(TComPort& port)
    {
        link.OnConn = [this, &port](bool up) {
            (up ? on : off)++;
            seen.push_back(port.Connected());
        };
        port.AddLink(&link);
    }
};

// An OnRxChar handler that checks its thread and reads Count bytes one by
// one, as the window's receive handler does.
struct RxRecorder {
    std::vector<int> counts;
    std::string data;
    bool offThread = false;
    bool read = true;
    explicit RxRecorder(TComPort& port)
    {
        port.OnRxChar = [this, &port](QObject* sender, int count) {
            offThread = offThread || QThread::currentThread() != qApp->thread() || sender != &port;
            counts.push_back(count);
            for (char c = 0; read && count-- > 0;)
                if (port.Read(&c, 1) == 1)
                    data += c;
        };
    }
};

// Threads of this process now.
int ThreadCount()
{
    QDir tasks(QStringLiteral("/proc/self/task"));
    return int(tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

template <class F> EComPort raised(F f)
{
    try {
        f();
    } catch (const EComPort& e) {
        return e;
    }
    ADD_FAILURE() << "no EComPort raised";
    return EComPort(0);
}

} // namespace

TEST(ComPortNames, NamesDevicesAndMessages)
{
    EXPECT_EQ(TComPort::NormalizePortName("com3"), "COM3");
    EXPECT_EQ(TComPort::NormalizePortName("3"), "COM3");
    EXPECT_EQ(TComPort::NormalizePortName("cOm96"), "COM96");
    for (const char* bad : {"COM0", "COMX", "COM97", "", "-4"})
        EXPECT_EQ(TComPort::NormalizePortName(bad), "COM1") << bad;

    setenv("ZASHCHITA_COM7", "/dev/serial/by-id/adapter", 1);
    EXPECT_EQ(TComPort::DevicePathFor("com7"), "/dev/serial/by-id/adapter");
    unsetenv("ZASHCHITA_COM7");
    const QString path = TComPort::DevicePathFor("COM7");
    EXPECT_TRUE(path == "/dev/ttyUSB6" || path == "/dev/ttyS6") << path.toStdString();

    EXPECT_STREQ(EComPort(1, 2).what(), "Unable to open com port (win error code: 2)");
    EXPECT_STREQ(EComPort(18).what(), "Link (un)registration failed");
    EXPECT_EQ(EComPort(18).OsErrorCode, -1);
}

TEST(ComPortOpen, FailedOpensLeaveThePortClosed)
{
    ConnCounter conn;
    TComPort port;
    conn.Attach(port);
    port.SetPort("COM9");
    setenv("ZASHCHITA_COM9", "/nonexistent/ttyQ", 1);
    const EComPort missing = raised([&] { port.Open(); });
    EXPECT_EQ(missing.ErrorCode, 1);
    EXPECT_TRUE(std::string(missing.what()).ends_with(" (win error code: 2)")) << missing.what();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.DevicePath(), "/nonexistent/ttyQ");

    setenv("ZASHCHITA_COM9", "/dev/null", 1);   // opens, but is no terminal
    const EComPort notTty = raised([&] { port.Open(); });
    EXPECT_EQ(notTty.ErrorCode, 7);
    EXPECT_EQ(notTty.OsErrorCode, ENOTTY);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(conn.on, 0);
}

TEST(ComPortOpen, LineIsRaw9600EightNoneOneWithoutFlowControlAndExclusive)
{
    Pty pty(2);
    ConnCounter conn;
    auto port = std::make_unique<TComPort>();
    conn.Attach(*port);
    setUpLikeWindow(*port, 2);
    port->Open();
    port->Open();   // already open: nothing
    ASSERT_TRUE(port->Connected());
    EXPECT_EQ(conn.seen, std::vector<bool>{true});

    termios t{};
    ASSERT_EQ(tcgetattr(pty.master, &t), 0);
    EXPECT_EQ(cfgetispeed(&t), speed_t(B9600));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    int exclusive = 0;
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);

    port->Close();
    port->Close();   // already closed: nothing
    EXPECT_EQ(conn.seen, (std::vector<bool>{true, false}));
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);

    port->Open();
    port.reset();   // the destructor closes
    EXPECT_EQ(conn.off, 2);
}

TEST(ComPortOpen, SameNameKeepsThePortNewNameReopens)
{
    Pty first(4), second(5);
    ConnCounter conn;
    TComPort port;
    conn.Attach(port);
    setUpLikeWindow(port, 4);
    port.Open();
    port.SetPort("com4");
    EXPECT_EQ(conn.off, 0);

    port.SetPort("5");
    EXPECT_EQ(port.Port(), "COM5");
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(conn.seen, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(port.DevicePath().toStdString(), second.path);
    port.Write("x", 1);
    EXPECT_EQ(second.receive(1), "x");
}

TEST(ComPortOpen, LinkMisuseAndSyncMethodWhileOpenRaise)
{
    Pty pty(2);
    TComPort port;
    TComLink link, stranger;
    port.AddLink(&link);
    const EComPort twice = raised([&] { port.AddLink(&link); });
    EXPECT_EQ(twice.ErrorCode, 18);
    EXPECT_STREQ(twice.what(), "Link (un)registration failed");
    EXPECT_EQ(raised([&] { port.RemoveLink(&stranger); }).ErrorCode, 18);
    port.RemoveLink(&link);
    EXPECT_EQ(raised([&] { port.RemoveLink(&link); }).ErrorCode, 18);

    setUpLikeWindow(port, 2);
    port.Open();
    EXPECT_EQ(raised([&] { port.SetSyncMethod(smThreadSync); }).ErrorCode, 14);
    EXPECT_EQ(port.SyncMethod(), smWindowSync);
}

TEST(ComPortData, WriteAndReadBothWays)
{
    Pty pty(2);
    TComPort port;
    setUpLikeWindow(port, 2);
    port.Events = {};   // no watcher: nothing but Read takes the bytes
    RxRecorder rx(port);
    port.Open();

    const std::string request("\x01\x03\x00\x32\x00\x1D\x24\x0C", 8);
    for (char c : request)
        ASSERT_EQ(port.Write(&c, 1), 1);
    EXPECT_EQ(pty.receive(8), request);

    pty.send(std::string("\x01\x03\x3A\xFF", 4));
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.BytesWaiting() == 4; }, 5000));
    std::string got;
    for (char c = 0; got.size() < 4; got += c)
        ASSERT_EQ(port.Read(&c, 1), 1);
    EXPECT_EQ(got, std::string("\x01\x03\x3A\xFF", 4));
    EXPECT_EQ(port.BytesWaiting(), 0);
    EXPECT_TRUE(rx.counts.empty());

    // No time-outs: Read takes what is waiting and does not wait for more.
    port.Timeouts.ReadTotalMultiplier = port.Timeouts.ReadTotalConstant = 0;
    pty.send("abc");
    ASSERT_TRUE(QTest::qWaitFor([&] { return port.BytesWaiting() == 3; }, 5000));
    char buf[10];
    EXPECT_EQ(port.Read(buf, 10), 3);
    EXPECT_EQ(port.Read(buf, 10), 0);
}

TEST(ComPortData, ReadOfOneByteTimesOutWithNothing)
{
    Pty pty(2);
    TComPort port;
    setUpLikeWindow(port, 2);
    port.Open();
    const auto start = std::chrono::steady_clock::now();
    char c = 0;
    EXPECT_EQ(port.Read(&c, 1), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(ComPortRx, BurstsArriveOnTheWindowThreadWithTheirCounts)
{
    Pty pty(2);
    TComPort port;
    setUpLikeWindow(port, 2);
    RxRecorder rx(port);
    port.Open();
    pty.send("12345");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rx.data.size() == 5; }, 5000));
    pty.send("6789ABC");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rx.data.size() == 12; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(rx.data, "123456789ABC");
    int sum = 0;   // merged or split, nothing counted twice, nothing after
    for (int c : rx.counts) {
        EXPECT_GE(c, 1);
        sum += c;
    }
    EXPECT_EQ(sum, 12);
    EXPECT_FALSE(rx.offThread);
}

TEST(ComPortRx, UnreadBytesAreOfferedAgainWithoutBusyLoop)
{
    Pty pty(2);
    TComPort port;
    setUpLikeWindow(port, 2);
    RxRecorder rx(port);
    rx.read = false;
    port.Open();
    pty.send("abc");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rx.counts.empty(); }, 5000));
    // Offered again and again, but with pauses: a spin would wake the port
    // tens of thousands of times a second.
    const quint64 wakeUps = port.WakeUps();
    runEventLoop(1000);
    EXPECT_GE(rx.counts.size(), 2u);
    EXPECT_LT(rx.counts.size(), kOffersPerSecond);
    EXPECT_LT(port.WakeUps() - wakeUps, kOffersPerSecond);
    for (int c : rx.counts)
        EXPECT_EQ(c, 3);
}

// A hold looks away from the input: nothing is handed on while it lasts;
// what came meanwhile is handed on as it ends, and a hang-up is told then.
TEST(ComPortRx, HoldLooksAwayAndHandsOnWhatCameAsItEnds)
{
    const struct {
        std::string sent;   // by the far end during the hold
        bool hangUp;
    } cases[] = {{"hold", false}, {"", false}, {"", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sent + (c.hangUp ? " and a hang-up" : ""));
        Pty pty(2);
        ConnCounter conn;
        TComPort port;
        setUpLikeWindow(port, 2);
        RxRecorder rx(port);
        conn.Attach(port);
        int lost = 0;
        conn.link.OnDeviceLost = [&](int, const QString&) { ++lost; };
        port.Open();
        port.HoldRxChar(std::chrono::milliseconds(400));
        pty.send(c.sent);
        if (c.hangUp)
            pty.closeMaster();
        runEventLoop(150);
        EXPECT_EQ(rx.counts.size() + lost, 0u) << "handed on or told while looking away";
        runEventLoop(600);
        EXPECT_EQ(rx.data, c.sent);
        EXPECT_EQ(lost, c.hangUp ? 1 : 0);
        EXPECT_EQ(rx.counts.size(), c.sent.empty() ? 0u : 1u);
        if (!c.hangUp) {   // looking again: what comes now is taken as it lands
            pty.send("more");
            EXPECT_TRUE(QTest::qWaitFor([&] { return rx.data == c.sent + "more"; }, 5000));
        }
    }
}

// A hang-up with nothing to read (a pulled USB adapter; here a pipe): told once as lost.
TEST(ComPortRx, HangUpWithNothingToReadIsToldOnce)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    QObject owner;
    int lost = 0, handed = 0;
    RxWatch watch(&owner, {[&](int) { return ++handed, RxWatch::rxTaken; }, [&](int) { ++lost; }});
    watch.Start(fds[0], true);
    ::close(fds[1]);
    EXPECT_TRUE(QTest::qWaitFor([&] { return lost > 0; }, 5000));
    EXPECT_EQ(std::pair(lost, handed), std::pair(1, 0));
    ::close(fds[0]);
}

TEST(ComPortRx, CloseUnderTrafficNeverHangsAndDeliversNothingAfter)
{
    Pty pty(2);
    std::atomic<bool> run{true};
    std::thread sender([&] {
        while (run) {
            if (::write(pty.master, "0123456789", 10) < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    TComPort port;
    setUpLikeWindow(port, 2);
    bool closed = true;
    int lateCalls = 0, calls = 0;
    port.OnRxChar = [&](QObject*, int count) {
        ++calls;
        lateCalls += closed || !port.Connected();
        for (char c; count-- > 0;)
            port.Read(&c, 1);
    };
    for (int round = 0; round < 50; ++round) {
        port.Open();
        closed = false;
        const int before = calls;
        if (round % 3 != 0)   // the other rounds close with a hand-over likely in flight
            (void)QTest::qWaitFor([&] { return calls > before; }, 2000);
        port.Close();
        closed = true;
        QCoreApplication::processEvents();
        QTest::qWait(2);
    }
    run = false;
    sender.join();
    EXPECT_EQ(lateCalls, 0);
    EXPECT_GT(calls, 0);
}

TEST(ComPortRx, CloseFromInsideTheHandler)
{
    Pty pty(2);
    TComPort port;
    setUpLikeWindow(port, 2);
    int calls = 0;
    port.OnRxChar = [&](QObject*, int) {
        ++calls;
        port.Close();
    };
    port.Open();
    pty.send("abc");
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 5000));
    EXPECT_FALSE(port.Connected());
    pty.send("def");
    QTest::qWait(100);
    EXPECT_EQ(calls, 1);
}

TEST(ComPortRx, HandlerThatRunsAnEventLoopIsNotEnteredAgain)
{
    Pty pty(2);
    TComPort port;
    setUpLikeWindow(port, 2);
    int depth = 0, deepest = 0, calls = 0;
    std::string data;
    port.OnRxChar = [&](QObject*, int count) {
        ++calls;
        deepest = std::max(deepest, ++depth);
        runEventLoop(30);   // as a message box would; more bytes come meanwhile
        for (char c = 0; count-- > 0;)
            if (port.Read(&c, 1) == 1)
                data += c;
        --depth;
    };
    port.Open();
    pty.send("ab");
    ASSERT_TRUE(QTest::qWaitFor([&] { return calls > 0; }, 5000));
    pty.send("cd");
    ASSERT_TRUE(QTest::qWaitFor([&] { return data.size() == 4; }, 5000));
    EXPECT_EQ(data, "abcd");
    EXPECT_EQ(deepest, 1);
}

TEST(ComPortRx, StartsNoThreadOfItsOwn)
{
    Pty pty(2);
    TComPort port;
    setUpLikeWindow(port, 2);
    RxRecorder rx(port);
    const int threads = ThreadCount();
    port.Open();
    pty.send("xyz");
    ASSERT_TRUE(QTest::qWaitFor([&] { return rx.data.size() == 3; }, 5000));
    EXPECT_EQ(ThreadCount(), threads);
    port.Close();
}

TEST(ComPortLost, WithoutTheRxCharEventInputIsLeftAloneAndLossStillSeen)
{
    Pty pty(2);
    ConnCounter conn;
    TComPort port;
    setUpLikeWindow(port, 2);
    port.Events = {evTxEmpty};
    RxRecorder rx(port);
    conn.Attach(port);
    int lost = 0;
    conn.link.OnDeviceLost = [&](int, const QString&) { ++lost; };
    port.Open();
    pty.send("abc");
    const quint64 wakeUps = port.WakeUps();
    runEventLoop(300);
    EXPECT_TRUE(rx.counts.empty());
    EXPECT_EQ(port.BytesWaiting(), 3);
    EXPECT_LT(port.WakeUps() - wakeUps, kOffersPerSecond);

    pty.closeMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lost > 0; }, 5000));
    runEventLoop(100);
    EXPECT_EQ(lost, 1);
}

TEST(ComPortLost, VanishedDeviceIsReportedOnceWithoutBusyLoop)
{
    Pty pty(2);
    ConnCounter conn;
    TComPort port;
    setUpLikeWindow(port, 2);
    RxRecorder rx(port);   // no reads come: the device is gone
    conn.Attach(port);
    int lost = 0, lostCode = 0;
    QString reason;
    conn.link.OnDeviceLost = [&](int code, const QString& text) {
        ++lost;
        lostCode = code;
        reason = text;
        EXPECT_EQ(QThread::currentThread(), qApp->thread());
    };
    port.Open();

    pty.closeMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lost > 0; }, 5000));
    // A hung-up line stays readable for ever: the port must stop looking.
    const quint64 wakeUps = port.WakeUps();
    runEventLoop(1000);
    EXPECT_LE(port.WakeUps() - wakeUps, kQuietWakeUps);
    EXPECT_EQ(lost, 1);
    EXPECT_GT(lostCode, 0);
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(port.DeviceLost());

    const EComPort write = raised([&] { port.Write("\x01", 1); });
    EXPECT_EQ(write.ErrorCode, 2);
    EXPECT_GT(write.OsErrorCode, 0);
    char c;
    EXPECT_EQ(raised([&] { port.Read(&c, 1); }).ErrorCode, 3);

    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.DeviceLost());
    EXPECT_EQ(conn.off, 1);
    EXPECT_EQ(lost, 1);
}
