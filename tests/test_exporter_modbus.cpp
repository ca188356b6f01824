// zashchita-exporter's Modbus TCP server: each answer from fresh blocks of
// its own relay (in memory, on a clock of the test's); then the program,
// asked by mbpoll, pymodbus and raw sockets: what the relays hold, writes
// refused and never on a line, no client holding up another, a relay stopped.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <functional>
#include <numeric>

#include "BlockSchedule.h"
#include "ModbusProtocol.h"
#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterTable.h"
#include "support/ExporterRun.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"

namespace {

// A request ADU of transaction 0x1234: FUNCTION, then two words.
QByteArray Request(int unit, int function, int first, int count, int transaction = 0x1234)
{
    const uint8_t bytes[] = {uint8_t(transaction >> 8), uint8_t(transaction), 0, 0, 0, 6, uint8_t(unit), uint8_t(function),
                             uint8_t(first >> 8), uint8_t(first), uint8_t(count >> 8), uint8_t(count)};
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

QString Number(int n) { return QString::number(n); }

// mbpoll's reading of `count` registers from `reg` (its -r counts from 1),
// or with `write` its write: the values read, else what it said on stderr.
QString Mbpoll(int port, int unit, int reg, int count, const QStringList& write = {})
{
    QProcess p;
    p.start(QStringLiteral("mbpoll"), QStringList{"-m", "tcp", "-a", Number(unit), "-r", Number(reg + 1), "-1", "-o", "3", "127.0.0.1"}
                                          + (write.isEmpty() ? QStringList{"-c", Number(count)} : write) + QStringList{"-p", Number(port)});
    p.waitForFinished(15000);
    static const QRegularExpression value(QStringLiteral("^\\[\\d+\\]:\\s+(\\d+)"), QRegularExpression::MultilineOption);
    QStringList values;
    for (auto m = value.globalMatch(QString::fromUtf8(p.readAllStandardOutput())); m.hasNext();)
        values << m.next().captured(1);
    return values.isEmpty() ? QString::fromUtf8(p.readAllStandardError()).trimmed() : values.join(QLatin1Char(' '));
}

// pymodbus' answers to FUNCTION:UNIT:REGISTER:COUNT requests, a line each.
std::string Ask(int port, const QStringList& requests)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral(ZASHCHITA_TESTS_DIR "/support/pymodbus_ask.py"), Number(port)} + requests);
    p.waitForFinished(30000);
    return p.readAllStandardOutput().toStdString();
}

// Registers first .. first + count - 1 of a --dump, as the clients print them.
QString Held(const std::map<int, int>& held, int first, int count)
{
    QStringList values;
    for (int reg = first; reg < first + count; ++reg)
        values << Number(held.at(reg));
    return values.join(QLatin1Char(' '));
}

QByteArray Receive(int fd, int count)
{
    QByteArray got(count, 0);
    int have = 0;
    for (ssize_t n; have < count && (n = recv(fd, got.data() + have, size_t(count - have), 0)) > 0;)
        have += int(n);
    return got.left(have);
}

}  // namespace

TEST(ExporterModbus, EachAnswerFromFreshBlocksOfItsOwnRelay)
{
    ExporterConfig config;
    config.lines = {{"a", "/dev/null", 0, 200, {{"M1", 1, {}, 5}, {"M2", 2, {}, 6}}}, {"b", "/dev/null", 0, 200, {{"F1", 1, {}, 7}}}};
    config.modbusCurrentMaxAgeMs = 1000;
    config.modbusSettingsMaxAgeMs = config.modbusRecordsMaxAgeMs = 5000;
    qint64 now = 0;
    ServedRegisters served(config, [&now] { return now; });
    ModbusCounts counts;
    ModbusProtocol protocol(served, counts);
    const RelayRef a1{"a", "M1", 1}, b1{"b", "F1", 1};
    const auto read = [&](const RelayRef& relay, RegisterBlock block, int base) {
        RegisterValues v{block, std::vector<uint16_t>(size_t(block.count)), 0, 0};
        std::iota(v.values.begin(), v.values.end(), uint16_t(base));
        served.OnBlockRead({relay, v, 0, 0});
    };
    read(a1, kCurrentParamsBlock, 100);
    read(a1, kSettingsBlock, 300);
    read(a1, RecordBlock(1), 500);
    read(b1, kCurrentParamsBlock, 900);
    const auto at = [&](qint64 ms) { return [&now, ms] { now = ms; }; };
    const struct {
        const char* what;
        std::function<void()> before;
        QByteArray request;
        const char* answer;   // hex, blanks aside; "more" or "close"
    } rows[] = {
        {"unit 5: M1 of line a", {}, Request(5, 3, 50, 2), "1234 0000 0007 05 03 04 0064 0065"},
        {"unit 7: address 1 of line b", {}, Request(7, 4, 51, 1), "1234 0000 0005 07 04 02 0385"},
        {"unit 6: nothing read yet", {}, Request(6, 3, 50, 1), "1234 0000 0003 06 83 0B"},
        {"a read a byte too long", {}, QByteArray::fromHex("1234 0000 0007 05 03 0032 0001 00"), "1234 0000 0003 05 83 03"},
        {"write register", {}, Request(5, 6, 80, 7), "1234 0000 0003 05 86 01"},
        {"write registers", {}, QByteArray::fromHex("1234 0000 0009 05 10 0050 0001 02 0007"), "1234 0000 0003 05 90 01"},
        {"write to an unknown unit", {}, Request(8, 6, 80, 7), "1234 0000 0003 08 86 01"},
        {"current parameters past their bound", at(2500), Request(5, 3, 50, 1), "1234 0000 0003 05 83 0B"},
        {"the settings within theirs", {}, Request(5, 3, 80, 1), "1234 0000 0005 05 03 02 012C"},
        {"two records of different ages, both fresh", [&] { now = 3000; read(a1, RecordBlock(2), 600); },
         Request(5, 3, 144, 2), "1234 0000 0007 05 03 04 0204 0258"},
        {"the older record past its bound", at(5500), Request(5, 3, 144, 2), "1234 0000 0003 05 83 0B"},
        {"the newer alone", {}, Request(5, 3, 145, 1), "1234 0000 0005 05 03 02 0258"},
        {"a relay down: nothing of it", [&] { served.OnRelayLook({a1, false}); }, Request(5, 3, 145, 1), "1234 0000 0003 05 83 0B"},
        {"read again", [&] { read(b1, kCurrentParamsBlock, 900); }, Request(7, 3, 50, 1), "1234 0000 0005 07 03 02 0384"},
        {"its line lost", [&] { served.OnLineState({config.lines[1], LineState::Kind::Lost, "gone", 5000}); },
         Request(7, 3, 50, 1), "1234 0000 0003 07 83 0B"},
        {"half a request", {}, QByteArray::fromHex("1234 0000 0006 05 03"), "more"},
        {"protocol 1", {}, QByteArray::fromHex("1234 0001 0006 05 03 0032 0001"), "close"},
        {"length 1", {}, QByteArray::fromHex("1234 0000 0001 05 03 0032 0001"), "close"},
        {"length 255", {}, QByteArray::fromHex("1234 0000 00FF 05 03 0032 0001"), "close"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.before)
            row.before();
        const ConnectionProtocol::Step step = protocol.Take(std::string_view(row.request.constData(), size_t(row.request.size())));
        const QByteArray answer = step.verdict == ConnectionProtocol::Verdict::More    ? QByteArray("more")
                                  : step.verdict == ConnectionProtocol::Verdict::Close ? QByteArray("close")
                                                                                       : QByteArray::fromStdString(step.reply.head).toHex().toUpper();
        EXPECT_EQ(answer.toStdString(), QByteArray(row.answer).replace(' ', "").toStdString());
    }
    // Every register of the map is in a block that is served.
    for (const RegisterEntry& e : RegisterTable())
        EXPECT_TRUE(std::any_of(BlockSchedule::Blocks().begin(), BlockSchedule::Blocks().end(),
                                [&e](const RegisterBlock& b) { return b.Contains(e.reg); })) << e.key.toStdString();
}

TEST(ExporterModbus, RealClientsReadWhatEachRelayHoldsAndNoneHoldsUpAnother)
{
    QTemporaryDir dir;
    const auto with = [](std::vector<std::string> args, std::initializer_list<std::string> more) {
        args.insert(args.end(), more);
        return args;
    };
    // Two lines whose relays at address 2 differ in what they hold: a unit
    // served from the wrong line or address shows.
    const std::vector<std::string> frozen{"--freeze", "--set", "67=3", "--set", "68=14", "--set", "69=9", "--set", "70=30", "--set", "71=0"};
    const std::vector<std::string> north = with(frozen, {"--set", "50=87"}), south = with(frozen, {"--set", "50=55"});
    const QString logs[] = {dir.filePath("north.log"), dir.filePath("south.log")};
    RelaySim simNorth(with(north, {"--address", "1", "--address", "2", "--log", logs[0].toStdString()}));
    RelaySim simSouth(with(south, {"--address", "2", "--log", logs[1].toStdString()}));
    const struct { int unit; std::map<int, int> held; } relays[] = {{11, RelaySim::dumpRegisters(with(north, {"--address", "1"}))},
                  {12, RelaySim::dumpRegisters(with(north, {"--address", "2"}))},
                  {21, RelaySim::dumpRegisters(with(south, {"--address", "2"}))}};
    const int port = FreePort();
    WriteText(dir.filePath("exporter.yaml"),
              QStringLiteral("modbus_listen: 127.0.0.1:%1\nmodbus_max_age: 30s\nlines:\n"
                             "  - {name: north, port: %2, relays: [{name: M1, address: 1, unit: 11}, {name: M2, address: 2, unit: 12},"
                             " {name: M9, address: 9, unit: 19}]}\n"
                             "  - {name: south, port: %3, relays: [{name: P1, address: 2, unit: 21}]}\n")
                  .arg(port).arg(QString::fromStdString(simNorth.path()), QString::fromStdString(simSouth.path())).toUtf8());
    ExporterProcess exporter(dir.filePath("exporter.yaml"), dir.filePath("state"));
    for (const auto& r : relays) {
        SCOPED_TRACE(r.unit);
        // The records come last, after the settings.
        ASSERT_TRUE(WaitFor([&] { return Ask(port, {QStringLiteral("3:%1:179:17").arg(r.unit)}) != "exception 11\n"; }, 30000));
        EXPECT_EQ(Mbpoll(port, r.unit, 50, 29), Held(r.held, 50, 29));
        const QString u = Number(r.unit);
        EXPECT_EQ(Ask(port, {"3:" + u + ":50:29", "4:" + u + ":50:29", "3:" + u + ":80:44", "4:" + u + ":128:68"}),
                  (QStringList{Held(r.held, 50, 29), Held(r.held, 50, 29), Held(r.held, 80, 44), Held(r.held, 128, 68), ""})
                      .join('\n').toStdString());
    }
    const QStringList refused{"3:19:50:29", "3:99:50:1", "3:11:79:1", "3:11:120:10", "3:11:50:0", "3:11:50:126",
                              "5:11:80:1", "6:11:80:1", "15:11:80:2", "16:11:80:2", "22:11:80:1", "23:11:80:1"};
    EXPECT_EQ(Ask(port, refused), "exception 11\nexception 10\nexception 2\nexception 2\nexception 3\nexception 3\n"
                                  "exception 1\nexception 1\nexception 1\nexception 1\nexception 1\nexception 1\n");
    EXPECT_EQ(Mbpoll(port, 12, 80, 1, {"5"}), "Write output (holding) register failed: Illegal function");
    EXPECT_EQ(Sample(exporter.Metrics(), "zashchita_modbus_requests_total{function=\"6\",result=\"illegal_function\"}"), 2);
    // A half-sent request holds up no other client.
    const int half = ConnectLoopback(port), asker = ConnectLoopback(port);
    send(half, Request(11, 3, 50, 1).constData(), 5, MSG_NOSIGNAL);
    // Three requests in one piece, answered in their order.
    const QByteArray three = Request(11, 3, 80, 1, 1) + Request(11, 6, 80, 7, 2) + Request(11, 4, 50, 2, 3);
    send(asker, three.constData(), size_t(three.size()), MSG_NOSIGNAL);
    const auto word = [&](int reg) { return QByteArray::number(relays[0].held.at(reg), 16).rightJustified(4, '0'); };
    EXPECT_EQ(Receive(asker, 11 + 9 + 13).toHex(),
              "0001000000050b0302" + word(80) + "0002000000030b8601" + "0003000000070b0404" + word(50) + word(51));
    char byte;
    EXPECT_EQ(recv(half, &byte, 1, MSG_DONTWAIT), -1) << "the half-sent request was closed";
    EXPECT_TRUE(WaitFor([&] { return Sample(exporter.Metrics(), "zashchita_modbus_clients") == 2.0; }, 5000));
    // 1 MB of garbage: the connection closed, the others still served.
    const int garbage = ConnectLoopback(port);
    QByteArray noise(1 << 20, 0);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    for (qsizetype sent = 0, n = 0; sent < noise.size() && n >= 0; sent += n)
        n = send(garbage, noise.constData() + sent, size_t(noise.size() - sent), MSG_NOSIGNAL);
    EXPECT_LE(recv(garbage, &byte, 1, 0), 0) << "the garbage's connection is still open";
    send(asker, three.constData(), 12, MSG_NOSIGNAL);
    EXPECT_EQ(Receive(asker, 11).toHex(), "0001000000050b0302" + word(80));
    EXPECT_TRUE(WaitFor([&] { return Sample(exporter.Metrics(), "zashchita_modbus_connections_closed_total{reason=\"done\"}") == 1.0; }, 5000));
    for (const int fd : {half, asker, garbage})
        close(fd);

    kill(simNorth.pid(), SIGSTOP);
    EXPECT_TRUE(WaitFor([&] { return Mbpoll(port, 11, 50, 29).endsWith("Target device failed to respond"); }, 15000));
    kill(simNorth.pid(), SIGCONT);
    EXPECT_TRUE(WaitFor([&] { return Mbpoll(port, 11, 50, 29) == Held(relays[0].held, 50, 29); }, 40000));
    exporter.Stop();
    simNorth.stop();
    simSouth.stop();
    for (const QString& log : logs)
        for (const Frame& f : LoggedFrames(log))
            ASSERT_EQ(f.at(1), 3) << "function " << int(f.at(1)) << " reached the line";
}

