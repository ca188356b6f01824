// The relay's line over TCP, below the front ends: how endpoints are written,
// the MBAP framing of a Modbus TCP gateway, and the two lines over a local
// socket pair driven through the relay session: a reply split at every byte
// boundary, replies that answer nothing, a gateway's exceptions, and a
// connection that breaks or is refused.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include "exchanges/ExchangePoller.h"
#include "link/Endpoint.h"
#include "link/Mbap.h"
#include "link/RelaySession.h"
#include "link/TcpLine.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"
#include "support/RelaySim.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(Endpoints, BothFormsAreReadAndAnythingElseIsRefusedWithItsReason)
{
    struct Good {
        const char* text;
        LineScheme scheme;
        const char* host;
        int port;
        const char* shown;
    };
    const Good good[] = {
        {"tcp://192.168.1.20:4001", LineScheme::RtuOverTcp, "192.168.1.20", 4001, "tcp://192.168.1.20:4001"},
        {"modbus-tcp://gw.plant.local", LineScheme::ModbusTcp, "gw.plant.local", 502, "modbus-tcp://gw.plant.local:502"},
        {"MODBUS-TCP://10.0.0.7:1502", LineScheme::ModbusTcp, "10.0.0.7", 1502, "modbus-tcp://10.0.0.7:1502"},
        {"tcp://[fe80::1]:950", LineScheme::RtuOverTcp, "fe80::1", 950, "tcp://[fe80::1]:950"},
    };
    for (const Good& g : good) {
        QString error;
        const auto e = ParseEndpoint(QString::fromLatin1(g.text), &error);
        ASSERT_TRUE(e) << g.text << ": " << error.toStdString();
        EXPECT_TRUE(NamesEndpoint(QString::fromLatin1(g.text)));
        EXPECT_EQ(e->scheme, g.scheme) << g.text;
        EXPECT_EQ(e->host, QLatin1String(g.host)) << g.text;
        EXPECT_EQ(e->port, g.port) << g.text;
        EXPECT_EQ(e->Text(), QLatin1String(g.shown));
    }
    for (const char* bad : {"tcp://host", "tcp://:502", "tcp://host:0", "tcp://host:65536", "tcp://host:502/x",
                            "modbus-tcp://[::1", "modbus-tcp://a b", "tcp://host:-1"}) {
        QString error;
        EXPECT_FALSE(ParseEndpoint(QString::fromLatin1(bad), &error)) << bad;
        EXPECT_TRUE(NamesEndpoint(QString::fromLatin1(bad))) << bad;
        EXPECT_TRUE(error.contains(QString::fromLatin1(bad))) << error.toStdString();
    }
    for (const char* path : {"/dev/ttyUSB0", "COM1", "tcp", "./tcp://x:1"})
        EXPECT_FALSE(NamesEndpoint(QString::fromLatin1(path))) << path;
}

// The frames as a gateway's documentation gives them, written out by hand.
TEST(MbapFraming, RequestsAndTheRepliesThatAnswerThem)
{
    const Bytes rtu = RelaySim::readRequest(7, 50, 29);
    EXPECT_EQ(mbap::WrapRequest(0x1234, rtu.data(), int(rtu.size())),
              (Bytes{0x12, 0x34, 0, 0, 0, 6, 7, 3, 0, 50, 0, 29}));
    const Bytes write = RelaySim::writeRequest(200, 84, 2500);
    EXPECT_EQ(mbap::WrapRequest(0xFFFF, write.data(), int(write.size())),
              (Bytes{0xFF, 0xFF, 0, 0, 0, 6, 200, 6, 0, 84, 0x09, 0xC4}));

    const Bytes reply{0x12, 0x34, 0, 0, 0, 7, 7, 3, 4, 0x02, 0x58, 0x00, 0x0C};
    EXPECT_EQ(mbap::AduLength(reply.data(), 6), 0) << "header not in yet";
    EXPECT_EQ(mbap::AduLength(reply.data(), 7), 13);
    const Bytes tooLong{0, 1, 0, 0, 0x01, 0x00, 1};
    EXPECT_EQ(mbap::AduLength(tooLong.data(), 7), -1);
    const Bytes tooShort{0, 1, 0, 0, 0, 1, 1};
    EXPECT_EQ(mbap::AduLength(tooShort.data(), 7), -1);
    const Bytes otherProtocol{0, 1, 0, 1, 0, 7, 1};
    EXPECT_EQ(mbap::AduLength(otherProtocol.data(), 7), -1);

    const Bytes twoRegisters = RelaySim::readRequest(7, 80, 2);
    const mbap::Awaited awaited = mbap::AwaitedFor(0x1234, twoRegisters.data());
    EXPECT_EQ(mbap::Judge(awaited, reply.data(), int(reply.size())), mbap::Reply::Answer);
    EXPECT_EQ(mbap::ToRtu(reply.data(), int(reply.size())), ReadReply(7, {600, 12}));

    struct Case {
        const char* what;
        Bytes adu;
        mbap::Reply expected;
    };
    const Case cases[] = {
        {"another transaction", {0x12, 0x33, 0, 0, 0, 7, 7, 3, 4, 0, 1, 0, 2}, mbap::Reply::OtherTransaction},
        {"another protocol", {0x12, 0x34, 0, 1, 0, 7, 7, 3, 4, 0, 1, 0, 2}, mbap::Reply::NotAnswer},
        {"another unit", {0x12, 0x34, 0, 0, 0, 7, 8, 3, 4, 0, 1, 0, 2}, mbap::Reply::NotAnswer},
        {"another register count", {0x12, 0x34, 0, 0, 0, 5, 7, 3, 2, 0, 1}, mbap::Reply::NotAnswer},
        {"byte count against the length", {0x12, 0x34, 0, 0, 0, 7, 7, 3, 2, 0, 1, 0, 2}, mbap::Reply::NotAnswer},
        {"another function", {0x12, 0x34, 0, 0, 0, 7, 7, 4, 4, 0, 1, 0, 2}, mbap::Reply::NotAnswer},
        {"relay's refusal", {0x12, 0x34, 0, 0, 0, 3, 7, 0x83, 2}, mbap::Reply::Answer},
        {"path unavailable", {0x12, 0x34, 0, 0, 0, 3, 7, 0x83, 0x0A}, mbap::Reply::GatewayNoReply},
        {"target failed to respond", {0x12, 0x34, 0, 0, 0, 3, 7, 0x83, 0x0B}, mbap::Reply::GatewayNoReply},
        {"exception of another function", {0x12, 0x34, 0, 0, 0, 3, 7, 0x86, 0x0B}, mbap::Reply::NotAnswer},
        {"refusal of another length", {0x12, 0x34, 0, 0, 0, 4, 7, 0x83, 2, 0}, mbap::Reply::NotAnswer},
        {"gateway exception of another length", {0x12, 0x34, 0, 0, 0, 4, 7, 0x83, 0x0B, 0}, mbap::Reply::NotAnswer},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mbap::Judge(awaited, c.adu.data(), int(c.adu.size())), c.expected) << c.what;
}

// A session asking over one end of a local socket pair; the test is the
// device server or gateway at the other end.
struct SocketPairLine : ::testing::Test {
    int peer = -1;
    std::unique_ptr<TcpLine> line;
    RelaySession session{SessionOptions{5, 30, 1, false}};
    std::vector<RegisterValues> reads;
    std::vector<ReadFailure> failures;

    void Start(bool gateway)
    {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        peer = fds[1];
        line.reset(gateway ? new MbapLine : new TcpLine);
        line->Adopt(fds[0], QStringLiteral("pair"));
        line->OnReceived = [this](int count) { session.Receive(count); };
        session.SetLine(line.get());
        session.SetSlaveAddress(7);
        QObject::connect(&session, &RelaySession::blockRead, [this](const RegisterValues& v) { reads.push_back(v); });
        QObject::connect(&session, &RelaySession::readFailed, [this](const ReadFailure& f) { failures.push_back(f); });
    }
    void TearDown() override
    {
        session.SetLine(nullptr);
        if (peer >= 0)
            ::close(peer);
    }
    // Ticks until the request is on the wire; returns what the peer reads.
    Bytes Request(size_t length)
    {
        for (int i = 0; i < 40 && session.State().ReadyToSend == 1; ++i)
            session.Tick();
        Bytes got(length);
        size_t have = 0;
        while (have < length) {
            const ssize_t n = ::read(peer, got.data() + have, length - have);
            if (n <= 0)
                break;
            have += size_t(n);
        }
        got.resize(have);
        return got;
    }
    // Sends `bytes` and waits until the line has taken them in.
    void Send(const Bytes& bytes)
    {
        const quint64 before = line->WakeUps();
        ASSERT_EQ(::write(peer, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return line->WakeUps() > before; }, 10000));
    }
    // Ticks until the question asked has ended, at most past its time-out.
    void TimeOut()
    {
        for (int i = 0; i < 40 && session.Asking(); ++i)
            session.Tick();
    }
};

TEST_F(SocketPairLine, RawReplySplitAtEveryByteBoundaryIsTakenWhole)
{
    Start(false);
    const Bytes reply = ReadReply(7, {600, 12});
    for (size_t cut = 1; cut < reply.size(); ++cut) {
        reads.clear();
        session.Ask(Question::Read({80, 2}));
        ASSERT_EQ(Request(8), RelaySim::readRequest(7, 80, 2)) << cut;
        Send(Bytes(reply.begin(), reply.begin() + std::ptrdiff_t(cut)));
        EXPECT_TRUE(reads.empty()) << cut;
        Send(Bytes(reply.begin() + std::ptrdiff_t(cut), reply.end()));
        ASSERT_EQ(reads.size(), 1u) << cut;
        EXPECT_EQ(reads[0].values, (std::vector<uint16_t>{600, 12})) << cut;
    }
    EXPECT_TRUE(failures.empty());
}

TEST_F(SocketPairLine, GatewayReplySplitAtEveryByteBoundaryIsTakenWhole)
{
    Start(true);
    Bytes adu{0, 0, 0, 0, 0, 7, 7, 3, 4, 0x02, 0x58, 0x00, 0x0C};
    for (size_t cut = 1; cut < adu.size(); ++cut) {
        reads.clear();
        session.Ask(Question::Read({80, 2}));
        const Bytes request = Request(12);
        ASSERT_EQ(request.size(), 12u);
        EXPECT_EQ(Bytes(request.begin() + 2, request.end()), (Bytes{0, 0, 0, 6, 7, 3, 0, 80, 0, 2})) << cut;
        adu[0] = request[0];
        adu[1] = request[1];
        Send(Bytes(adu.begin(), adu.begin() + std::ptrdiff_t(cut)));
        EXPECT_TRUE(reads.empty()) << cut;
        Send(Bytes(adu.begin() + std::ptrdiff_t(cut), adu.end()));
        ASSERT_EQ(reads.size(), 1u) << cut;
        EXPECT_EQ(reads[0].values, (std::vector<uint16_t>{600, 12})) << cut;
    }
    EXPECT_TRUE(failures.empty());
}

// Each request has a transaction id of its own: a reply that carries another
// (a late one, a doubled one) is dropped, and only the reply of the request
// awaited is the answer. A gateway replies once to a transaction: once its
// reply has come, nothing more with that id is an answer.
TEST_F(SocketPairLine, GatewayReplyOfAnotherTransactionIsIgnored)
{
    Start(true);
    session.Ask(Question::Read({80, 2}));
    Bytes request = Request(12);
    ASSERT_EQ(request.size(), 12u);
    const uint8_t hi = request[0], lo = request[1];
    // Another transaction holding the marker 0xBEEF; then the answer, and
    // the marker once more with the answer's own id.
    Send({hi, uint8_t(lo + 1), 0, 0, 0, 7, 7, 3, 4, 0xBE, 0xEF, 0xBE, 0xEF});
    EXPECT_TRUE(reads.empty());
    Send({hi, lo, 0, 0, 0, 7, 7, 3, 4, 0x02, 0x58, 0x00, 0x0C, hi, lo, 0, 0, 0, 7, 7, 3, 4, 0xBE, 0xEF, 0xBE, 0xEF});
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].values, (std::vector<uint16_t>{600, 12}));

    // The next request has the next id; the previous id answers nothing.
    session.Ask(Question::Read({80, 2}));
    request = Request(12);
    EXPECT_NE((request[0] << 8 | request[1]), (hi << 8 | lo));
    Send({hi, lo, 0, 0, 0, 7, 7, 3, 4, 0xBE, 0xEF, 0xBE, 0xEF});
    TimeOut();
    EXPECT_EQ(reads.size(), 1u);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].why, ExchangeFailure::NoReply);
}

TEST_F(SocketPairLine, GatewayReplyOfAnotherProtocolUnitOrLengthIsNoAnswer)
{
    Start(true);
    struct Case {
        const char* what;
        Bytes reply;   // after the transaction id
    };
    const Case cases[] = {
        {"another protocol", {0, 1, 0, 7, 7, 3, 4, 0xBE, 0xEF, 0xBE, 0xEF}},
        {"another unit", {0, 0, 0, 7, 8, 3, 4, 0xBE, 0xEF, 0xBE, 0xEF}},
        {"another length", {0, 0, 0, 5, 7, 3, 2, 0xBE, 0xEF}},
        {"cut short", {0, 0, 0, 5, 7, 3, 4, 0xBE, 0xEF}},
    };
    for (const Case& c : cases) {
        failures.clear();
        session.Ask(Question::Read({80, 2}));
        const Bytes request = Request(12);
        ASSERT_EQ(request.size(), 12u);
        Bytes bad{request[0], request[1]};
        bad.insert(bad.end(), c.reply.begin(), c.reply.end());
        Send(bad);
        // What follows with the same id (a frame nobody asked for) is no answer either.
        Send({request[0], request[1], 0, 0, 0, 7, 7, 3, 4, 0xBE, 0xEF, 0xBE, 0xEF});
        TimeOut();
        EXPECT_TRUE(reads.empty()) << c.what;
        ASSERT_EQ(failures.size(), 1u) << c.what;
        EXPECT_EQ(failures[0].why, ExchangeFailure::NoReply) << c.what;
    }
}

// The gateway's 0x0A and 0x0B say the relay did not answer it: the exchange
// ends as one without a reply, not as the relay's refusal; a refusal of the
// relay's own still is one.
TEST_F(SocketPairLine, GatewayExceptionsCountAsNoReply)
{
    Start(true);
    for (const uint8_t code : {mbap::kPathUnavailable, mbap::kTargetFailedToRespond, uint8_t(2)}) {
        failures.clear();
        session.Ask(Question::Read({80, 2}));
        const Bytes request = Request(12);
        ASSERT_EQ(request.size(), 12u);
        Send({request[0], request[1], 0, 0, 0, 3, 7, 0x83, code});
        TimeOut();
        ASSERT_EQ(failures.size(), 1u) << int(code);
        EXPECT_EQ(failures[0].why, code == 2 ? ExchangeFailure::Refused : ExchangeFailure::NoReply) << int(code);
        EXPECT_EQ(failures[0].exceptionCode, code == 2 ? 2 : 0);
    }
    EXPECT_TRUE(reads.empty());
}

// After a gateway's exception the line awaits the next transaction's answer,
// and nothing more of the spent one is an answer.
TEST_F(SocketPairLine, GatewayLineAwaitsTheNextAnswerAfterAnException)
{
    Start(true);
    Question question = Question::Read({80, 2});
    question.tries = 2;
    session.Ask(question);
    Bytes request = Request(12);
    Send({request[0], request[1], 0, 0, 0, 3, 7, 0x83, mbap::kTargetFailedToRespond});
    Send({request[0], request[1], 0, 0, 0, 7, 7, 3, 4, 0xBE, 0xEF, 0xBE, 0xEF});
    for (int i = 0; i < 60 && session.State().ReadyToSend == 0; ++i)
        session.Tick();
    request = Request(12);
    Send({request[0], request[1], 0, 0, 0, 7, 7, 3, 4, 0x02, 0x58, 0x00, 0x0C});
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].values, (std::vector<uint16_t>{600, 12}));
    EXPECT_TRUE(failures.empty());
}

// A port on 127.0.0.1 that takes connections, for a session to open; the
// test holds the server's end.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
    Listener()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(fd, 1) == 0
            && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
            port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
    // Waits in the event loop (the session's timer must run meanwhile).
    int Accept()
    {
        int client = -1;
        (void)QTest::qWaitFor([&] { return (client = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0; }, 10000);
        return client;
    }
};

// `count` bytes from `fd`, read while the event loop runs.
Bytes ReadFrom(int fd, size_t count)
{
    Bytes got;
    (void)QTest::qWaitFor([&] {
        uint8_t b[64];
        const ssize_t n = ::recv(fd, b, std::min(sizeof b, count - got.size()), MSG_DONTWAIT);
        if (n > 0)
            got.insert(got.end(), b, b + n);
        return got.size() >= count;
    }, 10000);
    return got;
}

TEST(NetworkSession, DroppedConnectionIsOneDeviceLossAndPollingStops)
{
    Listener server;
    ASSERT_GT(server.port, 0);
    ExchangePoller exchanges;   // the window's polling
    RelaySession session;
    session.SetPolledRequests(&exchanges);
    int losses = 0;
    int lostError = 0;
    QObject::connect(&session, &RelaySession::lineLost, [&](int osError, const QString&) {
        ++losses;
        lostError = osError;
    });
    session.SetSlaveAddress(1);
    const QString endpoint = QStringLiteral("tcp://127.0.0.1:%1").arg(server.port);
    exchanges.State().PollMode = 5;
    session.Open(endpoint);
    EXPECT_TRUE(session.IsOpen());
    EXPECT_EQ(session.DevicePath(), endpoint);
    const int relay = server.Accept();
    ASSERT_GE(relay, 0);
    ASSERT_EQ(ReadFrom(relay, 8), RelaySim::readRequest(1, 50, 29));   // polling has begun
    ::close(relay);

    ASSERT_TRUE(QTest::qWaitFor([&] { return losses > 0; }, 10000));
    // Closed by the other side: seen on reading, or as a write that failed.
    EXPECT_TRUE(lostError == ECONNRESET || lostError == EPIPE) << lostError;
    const quint64 wakeUps = session.NetworkLine()->WakeUps();
    QTest::qWait(300);
    EXPECT_EQ(losses, 1);
    EXPECT_FALSE(session.PollTimer()->isActive());
    EXPECT_LE(session.NetworkLine()->WakeUps() - wakeUps, 1u) << "a closed connection must not wake the line on and on";
    EXPECT_TRUE(session.IsOpen()) << "open until the front end closes it";
    session.Close();
    EXPECT_FALSE(session.IsOpen());

    // "Открыть" again: a new connection.
    session.Open(endpoint);
    const int again = server.Accept();
    EXPECT_GE(again, 0);
    EXPECT_EQ(ReadFrom(again, 8).size(), 8u);
    session.Close();
    ::close(again);
}

// Each kind of name opens its kind of line, which decides whether answers
// must be physically possible: by itself, or whenever asked but on a gateway.
TEST(NetworkSession, EachNameOpensItsKindOfLine)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString pty = QString::fromLocal8Bit(::ptsname(master));
    const struct {
        const char* form;   // %1: the listener's port; "pty": a pseudo-terminal
        bool network;
        bool timingByItself;
        bool timingWhenAsked;
    } rows[] = {
        {"tcp://127.0.0.1:%1", true, false, true},
        {"modbus-tcp://127.0.0.1:%1", true, false, false},
        {"COM7", true, false, true},   // mapped to tcp://127.0.0.1:%1
        {"pty", false, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.form);
        Listener server;
        const QString endpoint = QStringLiteral("tcp://127.0.0.1:%1").arg(server.port);
        ::setenv("ZASHCHITA_COM7", endpoint.toLocal8Bit().constData(), 1);
        QString name = QString::fromLatin1(row.form);
        name = name == QLatin1String("pty") ? pty : name.contains(QLatin1Char('%')) ? name.arg(server.port) : name;
        for (const SessionOptions::Timing timing : {SessionOptions::Timing::Auto, SessionOptions::Timing::On}) {
            RelaySession session(SessionOptions{5, 30, 1, false});
            session.SetLineTiming(timing);
            session.Open(name);
            EXPECT_EQ(session.NetworkLine() != nullptr, row.network);
            EXPECT_EQ(session.DevicePath(), row.network ? (name == QLatin1String("COM7") ? endpoint : name) : pty);
            EXPECT_EQ(session.LineTiming(),
                      timing == SessionOptions::Timing::Auto ? row.timingByItself : row.timingWhenAsked);
        }
    }
    ::unsetenv("ZASHCHITA_COM7");
    ::close(master);
}

TEST(NetworkSession, RefusedConnectionIsAnOpenFailureWithTheSystemsReason)
{
    int port = 0;
    {
        Listener closedSoon;   // a port that was free a moment ago, and nobody listens on now
        port = closedSoon.port;
    }
    RelaySession session;
    const QString endpoint = QStringLiteral("modbus-tcp://127.0.0.1:%1").arg(port);
    try {
        session.Open(endpoint);
        FAIL() << "opened";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, ceOpen);
        EXPECT_EQ(e.OsErrorCode, ECONNREFUSED);
    }
    EXPECT_FALSE(session.IsOpen());
    EXPECT_EQ(session.DevicePath(), endpoint);
    EXPECT_FALSE(session.PollTimer()->isActive());

    try {
        session.Open(QStringLiteral("tcp://127.0.0.1"));
        FAIL() << "opened";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.OsErrorCode, -1);
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("needs its port"))) << e.what();
    }
}

// A question with a reply time-out of its own still has the network
// allowance on top of it on a network line.
TEST(NetworkSession, QuestionWithItsOwnTimeOutKeepsTheNetworkAllowance)
{
    Listener server;
    RelaySession session{SessionOptions{5, 30, 0, false}};
    session.Open(QStringLiteral("tcp://127.0.0.1:%1").arg(server.port));
    FakeLine line;   // the ticks from here on are the test's own
    session.SetLine(&line);
    Question q = Question::Read({80, 1}, 1);
    q.tries = 1;
    q.timeoutTicks = 4;
    int ended = 0;
    QObject::connect(session.Ask(q), &SessionReply::finished, [&](const Answer&) { ++ended; });
    int ticks = 0;
    for (; ended == 0 && ticks < 100; ++ticks)
        session.Tick();
    EXPECT_GT(ticks, q.timeoutTicks + SessionOptions::kNetworkAllowanceMs / 5) << "given up inside the allowance";
    EXPECT_LT(ticks, 100);
    session.SetLine(nullptr);
}

}  // namespace
