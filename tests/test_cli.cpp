// zashchita-cli run as a program against the relay simulator on a pty:
// settings saved, compared and restored, writes refused or stored otherwise,
// bad files that send nothing, records and live values read back from the
// output.
#include "test_cli_run.h"

#include <QElapsedTimer>
#include <QTest>

#include <csignal>

#include "ZashchitaVersion.h"
#include "exchanges/RelayClock.h"

TEST(CliSettings, SaveThenDiffShowsNothingInBothFormats)
{
    LoggedSim s;
    for (const char* name : {"relay.json", "relay.ini"}) {
        const QString file = s.File(name);
        const CliRun save = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file}));
        ASSERT_EQ(save.exitCode, 0) << save.err.toStdString();
        EXPECT_TRUE(save.out.contains(QStringLiteral("saved 43 settings"))) << save.out.toStdString();

        const CliRun diff = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("diff"), file}));
        EXPECT_EQ(diff.exitCode, 0) << diff.err.toStdString();
        EXPECT_TRUE(diff.out.isEmpty()) << diff.out.toStdString();

        const CliRun load = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), file,
                                            QStringLiteral("--yes")}));
        EXPECT_EQ(load.exitCode, 0);
        EXPECT_TRUE(load.err.contains(QStringLiteral("nothing to write")));
    }
    EXPECT_TRUE(s.WriteFrames().empty());
}

TEST(CliSettings, DiffNamesExactlyTheThreeChangedSettings)
{
    LoggedSim s;
    const QString file = s.File("before.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    const int se2 = s.Get(81);
    s.Set({{81, 700}, {121, 7}, {107, 0x8001}});   // SE2, CB4, the event record mask

    const CliRun diff = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("diff"), file}));
    ASSERT_EQ(diff.exitCode, 1) << diff.err.toStdString();   // they differ, as diff(1) says
    const QStringList lines = diff.OutLines();
    ASSERT_EQ(lines.size(), 3) << diff.out.toStdString();
    EXPECT_EQ(FirstWords(lines), (QSet<QString>{QStringLiteral("SE2"), QStringLiteral("CB4"),
                                                QStringLiteral("EditMask2")}));
    EXPECT_TRUE(diff.out.contains(QStringLiteral("SE2 (81) Ток МТЗ (отсечка): relay 700 %, file %1 %").arg(se2)))
        << diff.out.toStdString();
    EXPECT_TRUE(diff.out.contains(QStringLiteral("relay 10000000 00000001")));
    EXPECT_TRUE(diff.out.contains(QStringLiteral("relay 7 (7 - Iном")));
}

TEST(CliSettings, LoadShowsThenMakesOnlyTheNeededWritesAndReadsBackEqual)
{
    LoggedSim s;
    const QString file = s.File("good.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    const int se2 = s.Get(81), cb4 = s.Get(121), mask2 = s.Get(107);
    s.Set({{81, 700}, {121, 7}, {107, 0x41FE}});
    const size_t setWrites = s.WriteFrames().size();

    // Without --yes: the three writes are shown and none is made.
    const CliRun dry = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), file}));
    ASSERT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(FirstWords(dry.OutLines(), 2), (QSet<QString>{QStringLiteral("SE2"), QStringLiteral("CB4"),
                                                            QStringLiteral("EditMask2")}));
    EXPECT_EQ(LinesStartingWith(dry.OutLines(), QStringLiteral("would write ")).size(), 3);
    EXPECT_EQ(s.WriteFrames().size(), setWrites);

    const CliRun load = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), file,
                                        QStringLiteral("--yes")}));
    ASSERT_EQ(load.exitCode, 0) << load.out.toStdString() << load.err.toStdString();
    EXPECT_EQ(LinesStartingWith(load.OutLines(), QStringLiteral("wrote ")).size(), 3);
    EXPECT_TRUE(load.err.contains(QStringLiteral("read back: the relay holds the file's settings")));

    // One function-6 frame per setting, in register order, each with the file's value.
    const std::vector<Frame> writes = s.WriteFrames(setWrites);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], WriteFrame(81, se2));
    EXPECT_EQ(writes[1], WriteFrame(107, mask2));
    EXPECT_EQ(writes[2], WriteFrame(121, cb4));

    EXPECT_EQ(s.Get(81), se2);
    EXPECT_EQ(s.Get(121), cb4);
    EXPECT_EQ(s.Get(107), mask2);
    EXPECT_TRUE(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("diff"), file})).out.isEmpty());
}

TEST(CliSettings, RefusedWriteStopsTheLoadAndNamesTheSetting)
{
    LoggedSim s({"--refuse-writes", "82"});
    const QString file = s.File("good.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    s.Set({{81, 701}, {83, 777}});
    // SE3 (82) cannot be set over the line either; the file asks for another value.
    const QString edited = Replaced(file, QStringLiteral("\"name\": \"SE3\", \"register\": 82, \"value\": 50,"),
                                    QStringLiteral("\"name\": \"SE3\", \"register\": 82, \"value\": 55,"));

    const CliRun load = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), edited,
                                        QStringLiteral("--yes")}));
    EXPECT_EQ(load.exitCode, 1);
    EXPECT_TRUE(load.out.contains(QStringLiteral("refused SE3 (82)"))) << load.out.toStdString();
    EXPECT_TRUE(load.out.contains(QStringLiteral("exception 4 (device failure)")));
    EXPECT_TRUE(load.err.contains(QStringLiteral("stopped at SE3 after 1 of 3 writes"))) << load.err.toStdString();
    // SE2 went out and held; SE4, after the refusal, was never sent.
    const std::vector<Frame> writes = s.WriteFrames(2);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(WrittenRegister(writes[0]), 81);
    EXPECT_EQ(writes[1], WriteFrame(82, 55));
    EXPECT_EQ(s.Get(83), 777);
    // The read-back names what the relay does not hold.
    EXPECT_TRUE(load.out.contains(QStringLiteral("mismatch SE3 (82)")));
    EXPECT_TRUE(load.out.contains(QStringLiteral("mismatch SE4 (83)")));
    EXPECT_FALSE(load.out.contains(QStringLiteral("mismatch SE2")));
}

TEST(CliSettings, ClampedEchoIsReported)
{
    LoggedSim s({"--clamp", "2000"});
    const QString file = s.File("good.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    const QString edited = Replaced(file, QStringLiteral("\"name\": \"SE5\", \"register\": 84, \"value\": 1000,"),
                                    QStringLiteral("\"name\": \"SE5\", \"register\": 84, \"value\": 3000,"));

    const CliRun load = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), edited,
                                        QStringLiteral("--yes")}));
    EXPECT_EQ(load.exitCode, 1);
    EXPECT_TRUE(load.out.contains(QStringLiteral(
        "altered SE5 (84) Время срабатывания по сопротивлению изоляции: the relay stored 2000 мс instead of 3000 мс")))
        << load.out.toStdString();
    EXPECT_TRUE(load.out.contains(QStringLiteral("mismatch SE5 (84)")));
    EXPECT_EQ(s.WriteFrames(), std::vector<Frame>{WriteFrame(84, 3000)});
}

TEST(CliSettings, BadFilesOutOfRangeValuesAndUnknownNamesSendNothing)
{
    LoggedSim s;
    const QString file = s.File("good.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    s.Set({{81, 702}});   // something a load would write
    const size_t framesBefore = s.Frames().size();

    QFile good(file);
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray text = good.readAll();
    const QString cut = s.File("cut.json");
    {
        QFile f(cut);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.left(text.size() / 2));
    }
    struct Case {
        QString file;
        QString reason;
    };
    const Case cases[] = {
        {cut, QStringLiteral("damaged JSON")},
        {Replaced(file, QStringLiteral("\"register\": 82, \"value\": 50,"),
                  QStringLiteral("\"register\": 82, \"value\": 70000,")),
         QStringLiteral("SE3 (settings[2]): 70000 is out of range 0 to 65535")},
        {Replaced(file, QStringLiteral("\"name\": \"SE4\""), QStringLiteral("\"name\": \"SE44\"")),
         QStringLiteral("SE44 (settings[3]): no setting has that name")},
    };
    for (const Case& c : cases) {
        const CliRun load = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), c.file,
                                            QStringLiteral("--yes"), QStringLiteral("--include-address")}));
        EXPECT_EQ(load.exitCode, 2) << c.reason.toStdString();
        EXPECT_TRUE(load.err.contains(c.reason)) << load.err.toStdString();
        EXPECT_TRUE(load.err.contains(QStringLiteral("nothing was sent to the relay")));
        EXPECT_TRUE(load.out.isEmpty());
    }
    // Not a write, not even a read: the file is refused before the port is opened.
    EXPECT_EQ(s.Frames().size(), framesBefore);
    EXPECT_EQ(s.Get(81), 702);
}

TEST(CliSettings, RelayAddressIsWrittenOnlyWhenAskedAndLast)
{
    LoggedSim s;
    const QString file = s.File("good.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    const QString edited = Replaced(file, QStringLiteral("\"register\": 80, \"value\": 1,"),
                                    QStringLiteral("\"register\": 80, \"value\": 9,"));
    s.Set({{122, 4321}});

    const CliRun without = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), edited,
                                           QStringLiteral("--yes")}));
    EXPECT_EQ(without.exitCode, 0) << without.out.toStdString() << without.err.toStdString();
    EXPECT_TRUE(without.out.contains(QStringLiteral("kept NSE1 (80)")));
    std::vector<Frame> writes = s.WriteFrames(1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], WriteFrame(122, 1230));

    s.Set({{122, 4321}});
    // The simulator stores the address but keeps answering at 1, as a relay
    // that takes it on restart: the read-back at 9 finds nobody, then the
    // relay at 1. A short time-out keeps those unanswered reads brief.
    const CliRun with = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), edited,
                                        QStringLiteral("--yes"), QStringLiteral("--include-address"),
                                        QStringLiteral("--timeout"), QStringLiteral("500")}));
    EXPECT_EQ(with.exitCode, 0) << with.out.toStdString() << with.err.toStdString();
    writes = s.WriteFrames(3);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], WriteFrame(122, 1230));
    EXPECT_EQ(writes[1], WriteFrame(80, 9));   // the address last
    EXPECT_EQ(s.Get(80), 9);
    EXPECT_TRUE(with.err.contains(QStringLiteral(
        "zashchita-cli: the relay still answers at its old address 1; it may take address 9 only after a restart\n")))
        << with.err.toStdString();
    EXPECT_TRUE(with.err.endsWith(QStringLiteral("zashchita-cli: read back: the relay holds the file's settings\n")));
}

TEST(CliReadings, RecordsAsCsvAndTextParseBack)
{
    LoggedSim s({"--record", "3=6,7,8,9,10,0x0011,1,2,3,4,5,6,7,8,9,10,11"});
    const CliRun csv = RunCli(Args(s, {QStringLiteral("records"), QStringLiteral("--csv")}));
    ASSERT_EQ(csv.exitCode, 0) << csv.err.toStdString();
    const QStringList lines = csv.OutLines();
    ASSERT_EQ(lines.size(), 5) << csv.out.toStdString();
    const QStringList header = CsvFields(lines[0]);
    ASSERT_EQ(header.size(), 21);
    EXPECT_EQ(header[0], QStringLiteral("Протокол"));
    EXPECT_EQ(header[5], QStringLiteral("Ток фазы А (%)"));
    EXPECT_EQ(header[15], QStringLiteral("Время пуска (мс)"));
    // The relay's own fields of the moment follow the values.
    EXPECT_EQ(header.mid(16), (QStringList{QStringLiteral("Месяц"), QStringLiteral("День"), QStringLiteral("Час"),
                                           QStringLiteral("Минута"), QStringLiteral("Секунда")}));

    const QDateTime now = QDateTime::currentDateTime();
    auto moment = [&](int m, int d, int h, int mi, int sec) {
        return RecordMoment(now, {uint16_t(m), uint16_t(d), uint16_t(h), uint16_t(mi), uint16_t(sec)});
    };
    const QDateTime expected[4] = {moment(12, 31, 23, 59, 58), moment(2, 30, 8, 15, 42), moment(6, 7, 8, 9, 10),
                                   moment(1, 19, 6, 25, 53)};
    const QStringList raw[4] = {{"12", "31", "23", "59", "58"}, {"2", "30", "8", "15", "42"},
                                {"6", "7", "8", "9", "10"}, {"1", "19", "6", "25", "53"}};
    for (int n = 1; n <= 4; ++n) {
        const QStringList row = CsvFields(lines[n]);
        ASSERT_EQ(row.size(), header.size()) << lines[n].toStdString();
        EXPECT_EQ(row[0], QString::number(n));
        EXPECT_EQ(row.mid(16), raw[n - 1]) << lines[n].toStdString();
        if (n == 2)
            continue;
        EXPECT_EQ(row[1] + QLatin1Char(' ') + row[2], expected[n - 1].toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }
    // 30 February is no date: no date shown, not 2001-01-01 as if real.
    EXPECT_EQ(CsvFields(lines[2]).mid(1, 2), (QStringList{QString(), QString()}));
    const QStringList third = CsvFields(lines[3]);
    EXPECT_EQ(third[3], QStringLiteral("00000000 00010001"));
    EXPECT_EQ(third[4], QStringLiteral("Отсечка; Тяжелый пуск"));
    for (int k = 0; k < 11; ++k)
        EXPECT_EQ(third[5 + k], QString::number(k + 1));
    const QStringList fourth = CsvFields(lines[4]);
    EXPECT_EQ(fourth[4], QStringLiteral("Отсечка; Двигатель отключен; Время пуска"));
    EXPECT_EQ(fourth[5], QStringLiteral("812"));

    const CliRun text = RunCli(Args(s, {QStringLiteral("records")}));
    ASSERT_EQ(text.exitCode, 0);
    const QString fourthMoment = expected[3].toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    EXPECT_TRUE(text.out.contains(QStringLiteral("Протокол4: %1").arg(fourthMoment)))
        << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(
        QStringLiteral("  Статусный регистр: 10000010 00000001 (Отсечка, Двигатель отключен, Время пуска)")));
    EXPECT_TRUE(text.out.contains(QStringLiteral("  Ток фазы А: 812 %")));
    EXPECT_TRUE(text.out.contains(QStringLiteral("  Время пуска: 11 мс")));
    EXPECT_TRUE(text.out.contains(
        QStringLiteral("Протокол2: not a date (month 2, day 30, hour 8, minute 15, second 42)\n")));
    EXPECT_FALSE(text.out.contains(QStringLiteral("2001")));

    const CliRun jsonl = RunCli(Args(s, {QStringLiteral("records"), QStringLiteral("--format"), QStringLiteral("jsonl")}));
    ASSERT_EQ(jsonl.exitCode, 0) << jsonl.err.toStdString();
    ASSERT_EQ(jsonl.OutLines().size(), 4);
    const QJsonObject second = QJsonDocument::fromJson(jsonl.OutLines()[1].toUtf8()).object();
    EXPECT_EQ(second.value(QStringLiteral("Протокол")).toInt(), 2);
    EXPECT_TRUE(second.value(QStringLiteral("Дата")).isNull());
    EXPECT_EQ(second.value(QStringLiteral("День")).toInt(), 30);
    const QJsonObject fourthObject = QJsonDocument::fromJson(jsonl.OutLines()[3].toUtf8()).object();
    EXPECT_EQ(fourthObject.value(QStringLiteral("Дата")).toString(), expected[3].toString(QStringLiteral("yyyy-MM-dd")));
    EXPECT_EQ(fourthObject.value(QStringLiteral("Ток фазы А (%)")).toInt(), 812);
    EXPECT_EQ(fourthObject.value(QStringLiteral("Биты статуса")).toArray().size(), 3);
    EXPECT_TRUE(s.WriteFrames().empty());
}

TEST(CliReadings, MonitorLinesParseBack)
{
    LoggedSim s({"--set", "66=0x0C01", "--set", "78=4321"});
    const CliRun csv = RunCli(Args(s, {QStringLiteral("monitor"), QStringLiteral("--csv"), QStringLiteral("--seconds"),
                                       QStringLiteral("1")}));
    ASSERT_EQ(csv.exitCode, 0) << csv.err.toStdString();
    const QStringList lines = csv.OutLines();
    ASSERT_GE(lines.size(), 2);
    const QStringList header = CsvFields(lines[0]);
    ASSERT_EQ(header.size(), 18);
    EXPECT_EQ(header[0], QStringLiteral("Время ПК"));
    EXPECT_EQ(header[4], QStringLiteral("Ток фазы А (%)"));
    EXPECT_EQ(header[16], QStringLiteral("Ошибка"));
    for (const QString& line : lines.mid(1)) {
        const QStringList row = CsvFields(line);
        ASSERT_EQ(row.size(), header.size()) << line.toStdString();
        EXPECT_TRUE(IsIsoStamp(row[0])) << row[0].toStdString();
        EXPECT_TRUE(row[16].isEmpty());
        EXPECT_EQ(row[1], QStringLiteral("00001100 00000001"));
        EXPECT_EQ(row[2], QStringLiteral("Отсечка; Двигатель включен; Пуск закончен"));
        EXPECT_EQ(row[3], QStringLiteral("4321"));
        EXPECT_NEAR(row[4].toInt(), 92, 4);   // phase A wanders a little
    }

    const CliRun text = RunCli(Args(s, {QStringLiteral("monitor"), QStringLiteral("--seconds"), QStringLiteral("1")}));
    ASSERT_EQ(text.exitCode, 0);
    ASSERT_FALSE(text.OutLines().isEmpty());
    const QRegularExpression line(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d  Статусный регистр: 00001100 00000001 \\(Отсечка, "
        "Двигатель включен, Пуск закончен\\); Время работы блока защиты: 4321 мин; Ток фазы А: \\d+ %;.*"
        "; Часы реле: \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d$"));
    for (const QString& l : text.OutLines())
        EXPECT_TRUE(line.match(l).hasMatch()) << l.toStdString();
}

TEST(CliUsage, ExitCodesAndTrace)
{
    EXPECT_EQ(RunCli({}).exitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("--frobnicate"), QStringLiteral("records")}).exitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("--address"), QStringLiteral("248"), QStringLiteral("records")}).exitCode, 2);
    EXPECT_EQ(RunCli({QStringLiteral("--csv"), QStringLiteral("settings"), QStringLiteral("save"),
                      QStringLiteral("x.json")}).exitCode, 2);
    const CliRun help = RunCli({QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("settings load FILE")));

    LoggedSim silent({"--silent"});
    const CliRun unanswered = RunCli(Args(silent, {QStringLiteral("--timeout"), QStringLiteral("100"),
                                                   QStringLiteral("--retries"), QStringLiteral("1"),
                                                   QStringLiteral("records")}));
    EXPECT_EQ(unanswered.exitCode, 1);
    EXPECT_TRUE(unanswered.err.contains(QStringLiteral("no reply from the relay at address 1")));
    EXPECT_EQ(silent.Frames().size(), 2u);   // the read and its one retry

    const CliRun noPort = RunCli({QStringLiteral("--port"), silent.File("no-such-device"), QStringLiteral("records")});
    EXPECT_EQ(noPort.exitCode, 1);
    EXPECT_TRUE(noPort.err.contains(QStringLiteral("cannot open the port")));

    LoggedSim s;
    const CliRun traced = RunCli(Args(s, {QStringLiteral("--trace"), QStringLiteral("settings"),
                                          QStringLiteral("diff"), s.File("missing.json")}));
    EXPECT_EQ(traced.exitCode, 2);   // the file is checked first: nothing on the line
    EXPECT_FALSE(traced.err.contains(QStringLiteral("zashchita.link")));
    const CliRun save = RunCli(Args(s, {QStringLiteral("--trace"), QStringLiteral("settings"), QStringLiteral("save"),
                                        s.File("traced.json")}));
    EXPECT_EQ(save.exitCode, 0);
    const QRegularExpression request(QStringLiteral("zashchita.link: +[0-9.]+ ms  -> 01 03 00 50 00 2C 44 06\n"));
    const QRegularExpression reply(QStringLiteral("zashchita.link: +[0-9.]+ ms  <- 01 03 58 [0-9A-F ]+  accepted\n"));
    EXPECT_TRUE(request.match(save.err).hasMatch()) << save.err.toStdString();
    EXPECT_TRUE(reply.match(save.err).hasMatch()) << save.err.toStdString();
}

TEST(CliReadings, MonitorPollsAtItsIntervalInEveryFormat)
{
    LoggedSim s({"--set", "78=4321"});
    const QDateTime start = QDateTime::currentDateTime().addMSecs(-1);
    // Polls start at 0, 400 and 800 ms at most: never more than three rows.
    const CliRun jsonl = RunCli(Args(s, {QStringLiteral("monitor"), QStringLiteral("--format"), QStringLiteral("jsonl"),
                                         QStringLiteral("--interval"), QStringLiteral("400"), QStringLiteral("--seconds"),
                                         QStringLiteral("1")}));
    const QDateTime end = QDateTime::currentDateTime().addMSecs(1);
    ASSERT_EQ(jsonl.exitCode, 0) << jsonl.err.toStdString();
    const QStringList lines = jsonl.OutLines();
    ASSERT_GE(lines.size(), 1);
    EXPECT_LE(lines.size(), 3);
    for (const QString& line : lines) {
        QJsonParseError error{};
        const QJsonObject row = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        const QString stamp = row.value(QStringLiteral("Время ПК")).toString();
        EXPECT_TRUE(IsIsoStamp(stamp)) << stamp.toStdString();
        const QDateTime at = QDateTime::fromString(stamp, Qt::ISODateWithMs);
        EXPECT_TRUE(at >= start && at <= end) << stamp.toStdString();
        EXPECT_EQ(row.value(QStringLiteral("Время работы блока защиты (мин)")).toInt(), 4321);
        EXPECT_FALSE(row.contains(QStringLiteral("Ошибка")));
    }
    EXPECT_EQ(s.Frames().size(), size_t(lines.size()));
    EXPECT_TRUE(jsonl.err.startsWith(QStringLiteral("zashchita-cli: %1 replies and 0 failed polls in ").arg(lines.size())));
}

// A gap in the log shows in the log: every failed poll is a row with its reason.
TEST(CliReadings, MonitorWritesARowForEveryFailedPoll)
{
    LoggedSim silent({"--silent"});
    const QStringList quick{QStringLiteral("--timeout"), QStringLiteral("50"), QStringLiteral("--retries"),
                            QStringLiteral("0"), QStringLiteral("--interval"), QStringLiteral("300"),
                            QStringLiteral("--seconds"), QStringLiteral("1"), QStringLiteral("monitor")};
    const CliRun csv = RunCli(Args(silent, quick + QStringList{QStringLiteral("--csv")}));
    EXPECT_EQ(csv.exitCode, 1);   // not one reply
    const QStringList lines = csv.OutLines();
    ASSERT_GE(lines.size(), 2);
    const size_t polls = silent.Frames().size();
    EXPECT_EQ(size_t(lines.size() - 1), polls);
    for (const QString& line : lines.mid(1)) {
        const QStringList row = CsvQuotedFields(line);
        ASSERT_EQ(row.size(), 18) << line.toStdString();
        EXPECT_TRUE(IsIsoStamp(row[0]));
        EXPECT_EQ(row.mid(1, 15), QStringList(15, QString()));
        EXPECT_TRUE(row[16].startsWith(QStringLiteral("no reply from the relay at address 1"))) << line.toStdString();
    }
    ExpectMessagesNamed(csv.err);

    const CliRun jsonl = RunCli(Args(silent, quick + QStringList{QStringLiteral("--format"), QStringLiteral("jsonl")}));
    ASSERT_FALSE(jsonl.OutLines().isEmpty());
    const QJsonObject row = QJsonDocument::fromJson(jsonl.OutLines()[0].toUtf8()).object();
    EXPECT_EQ(row.keys(), (QStringList{QStringLiteral("Время ПК"), QStringLiteral("Ошибка")}));   // sorted
    EXPECT_TRUE(row.value(QStringLiteral("Ошибка")).toString().startsWith(QStringLiteral("no reply")));

    const CliRun text = RunCli(Args(silent, quick));
    ASSERT_FALSE(text.OutLines().isEmpty());
    const QString first = text.OutLines()[0];
    EXPECT_TRUE(IsIsoStamp(first.section(QLatin1Char(' '), 0, 0)));
    EXPECT_TRUE(first.contains(QStringLiteral("  poll failed: no reply from the relay at address 1")));
}

TEST(CliUsage, VersionCommandHelpAndComNamesTheWindowDoesNotMap)
{
    const CliRun version = RunCli({QStringLiteral("--version")});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, QStringLiteral("zashchita-cli %1\n").arg(QLatin1String(ZASHCHITA_VERSION)));

    const CliRun help = RunCli({QStringLiteral("monitor"), QStringLiteral("--help")});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: zashchita-cli [OPTIONS] monitor\n")));
    EXPECT_TRUE(help.out.contains(QStringLiteral("--interval")));

    LoggedSim s;
    qputenv("ZASHCHITA_COM1", s.Port().toLocal8Bit());   // where a wrong mapping would lead
    const CliRun com97 = RunCli({QStringLiteral("--port"), QStringLiteral("COM97"), QStringLiteral("records")});
    qunsetenv("ZASHCHITA_COM1");
    EXPECT_EQ(com97.exitCode, 2);
    EXPECT_TRUE(com97.err.startsWith(
        QStringLiteral("zashchita-cli: --port takes a device path or COM1 to COM96, not \"COM97\"\n")));
    EXPECT_TRUE(s.Frames().empty());
}

// A stop signal ends the log at once, with its summary: during the wait for
// the next poll (an hour), or during a poll the relay leaves unanswered for
// half a minute (--timeout 5000, 5 retries), whatever the signal.
TEST(CliReadings, MonitorStopsOnSignalWhileWaiting)
{
    LoggedSim s;
    LoggedSim silent({"--silent"});
    QElapsedTimer clock;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        for (const bool answering : {true, false}) {
            QProcess process;
            process.start(QStringLiteral(ZASHCHITA_CLI_PATH),
                          Args(answering ? s : silent,
                               {QStringLiteral("--retries"), QStringLiteral("5"), QStringLiteral("monitor"),
                                QStringLiteral("--interval"), QStringLiteral("3600000")}));
            ASSERT_TRUE(process.waitForStarted(kRunTimeoutMs));
            if (answering)
                ASSERT_TRUE(process.waitForReadyRead(kRunTimeoutMs));   // the first poll's line
            else
                QTest::qWait(300);   // the first poll under way
            clock.start();
            ::kill(pid_t(process.processId()), signal);
            ASSERT_TRUE(process.waitForFinished(kRunTimeoutMs));
            // About a millisecond; a generous bound against a hang.
            EXPECT_LT(clock.elapsed(), 5000) << signal;
            EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process.exitCode(), answering ? 0 : 1) << signal;
            EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError())
                            .startsWith(answering ? QStringLiteral("zashchita-cli: 1 reply and 0 failed polls in ")
                                                  : QStringLiteral("zashchita-cli: 0 replies and 0 failed polls in ")))
                << signal;
        }
    }
}
