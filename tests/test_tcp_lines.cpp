// Both front ends over the network forms of the line, against the relay
// simulator on 127.0.0.1: a device server's raw TCP port (tcp://) and a
// Modbus TCP gateway (modbus-tcp://), given as COM1's mapping to the window
// and as --port to zashchita-cli. Also the window's search for the relay's
// address from the address field's context menu.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QMenu>
#include <QProgressBar>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>

#include "app/AddressSearch.h"
#include "app/LedIndicator.h"
#include "app/SpinEdit.h"
#include "link/TcpLine.h"
#include "support/SimLog.h"
#include "support/WindowDriver.h"
#include "test_cli_run.h"

namespace {

const std::vector<std::string> kFrozen = {"--no-pace", "--freeze", "--set", "66=0x4C05", "--set", "84=1084",
                                          "--set", "81=700", "--set", "121=7"};

struct Form {
    const char* option;    // of the simulator
    const char* scheme;    // of the endpoint
};
const Form kForms[] = {{"--tcp", "tcp://"}, {"--modbus-tcp", "modbus-tcp://"}};

// Lines of the frame trace while a test runs.
QStringList g_trace;
void CaptureTrace(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (QLatin1String(context.category) == QLatin1String("zashchita.link"))
        g_trace << message;
}
struct TraceOn {
    QtMessageHandler previous = qInstallMessageHandler(CaptureTrace);
    TraceOn()
    {
        g_trace.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("zashchita.link.debug=true"));
    }
    ~TraceOn()
    {
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(previous);
    }
    static bool Has(const QString& pattern)
    {
        const QRegularExpression re(pattern);
        for (const QString& line : g_trace)
            if (re.match(line).hasMatch())
                return true;
        return false;
    }
};

// The window with COM1 mapped to the simulator's endpoint.
struct NetworkWindow : ::testing::TestWithParam<Form> {
    QTemporaryDir dir;
    QString logPath = dir.filePath(QStringLiteral("sim.log"));
    std::unique_ptr<RelaySim> sim;
    std::unique_ptr<PortEnv> env;
    MessageCatcher boxes;
    TForm1 form;
    WindowDriver ui{form};

    void Start(std::vector<std::string> args = kFrozen)
    {
        args.insert(args.end(), {GetParam().option, "0", "--log", logPath.toStdString()});
        sim = std::make_unique<RelaySim>(args);
        // The line's own default: an endpoint that answers at once works.
        ::unsetenv("ZASHCHITA_LINE_TIMING");
        ASSERT_TRUE(QString::fromStdString(sim->endpoint()).startsWith(QLatin1String(GetParam().scheme)));
        env = std::make_unique<PortEnv>(1, sim->endpoint());
        form.show();
        QApplication::setActiveWindow(&form);
    }
    void TearDown() override
    {
        if (form.Session().IsOpen())
            Close();
    }
    // "Закрыть", and the close carried out by the next tick that would send.
    bool Close()
    {
        ui.Click("ButtonCOM");
        return QTest::qWaitFor([&] { return !form.Session().IsOpen(); }, 5000);
    }
    QString Endpoint() const { return QString::fromStdString(sim->endpoint()); }
    QString LampTip() { return form.Control(QStringLiteral("ComLed"))->toolTip(); }
    std::vector<Frame> Logged() { return LoggedFrames(logPath); }
};

TEST_P(NetworkWindow, PageZeroShowsTheRelayAndTheLampFollowsTheLine)
{
    TraceOn trace;
    Start();
    const auto regs = RelaySim::dumpRegisters(kFrozen);
    const QString portTip = LampTip();
    ASSERT_TRUE(ui.Open());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(ui.Lit());
    EXPECT_EQ(LampTip(), Endpoint());
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Закрыть"));
    EXPECT_EQ(form.ControlAs<QLabel>(QStringLiteral("LabelNum"))->text(), QStringLiteral("COM 1"));
    EXPECT_EQ(ui.Text("E0"), QString::number(regs.at(78)));
    for (int i = 2; i <= 12; ++i)
        EXPECT_EQ(ui.Edit(qPrintable(QStringLiteral("E%1").arg(i)))->text(), QString::number(regs.at(48 + i)));
    EXPECT_EQ(ui.Text("E1"), QStringLiteral("01001100 00000101"));
    EXPECT_TRUE(form.ControlAs<TLedIndicator>(QStringLiteral("L0"))->Checked());
    EXPECT_EQ(Logged().back(), RelaySim::readRequest(1, 50, 29));
    // The trace shows the bytes as they went: behind an MBAP header for the gateway.
    const QString ms = QStringLiteral("^ *\\d+\\.\\d ms  ");
    if (QLatin1String(GetParam().option) == QLatin1String("--modbus-tcp")) {
        EXPECT_TRUE(TraceOn::Has(ms + QStringLiteral("=> [0-9A-F]{2} [0-9A-F]{2} 00 00 00 06 01 03 00 32 00 1D$")))
            << g_trace.join('\n').toStdString();
    }
    EXPECT_TRUE(TraceOn::Has(ms + QStringLiteral("-> 01 03 00 32 00 1D 24 0C$")));

    ASSERT_TRUE(Close());
    EXPECT_FALSE(ui.Lit());
    EXPECT_EQ(LampTip(), portTip);
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Открыть"));
    EXPECT_TRUE(ui.Text("E0").isEmpty());
    // And it opens again: a new connection.
    ASSERT_TRUE(ui.Open());
    EXPECT_TRUE(ui.Lit());
    EXPECT_TRUE(Close());
}

TEST_P(NetworkWindow, EnterWritesTheSettingAndThePageReadsItBack)
{
    Start();
    ASSERT_TRUE(ui.Open());
    ui.SelectPage(1);
    auto* se5 = form.ControlAs<TSpinEdit>(QStringLiteral("SE5"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return se5->text() == "1084"; }, 10000));
    QTest::mouseClick(se5, Qt::LeftButton);
    se5->setFocus();
    se5->selectAll();
    QTest::keyClicks(se5, QStringLiteral("2500"));
    QTest::keyClick(se5, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Writes(Logged()).empty(); }, 10000));
    EXPECT_EQ(Writes(Logged()), std::vector<Frame>{WriteFrame(84, 2500)});
    // After the echo the block is read again and shows the stored value.
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Exchanges().PollMode == 1; }, 10000));
    const size_t afterWrite = Logged().size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged().size() > afterWrite + 1; }, 10000));
    EXPECT_EQ(se5->text(), "2500");
    EXPECT_EQ(Writes(Logged()).size(), 1u);
    EXPECT_EQ(Logged().back(), RelaySim::readRequest(1, 80, 44));
    EXPECT_TRUE(boxes.shown.empty());
}

// The device server goes away under an open line: one message, the closed
// look, and nothing that keeps waking; opening again says it cannot.
TEST_P(NetworkWindow, DroppedConnectionIsOneMessageAndTheClosedLook)
{
    Start({"--no-pace", "--gone-after", "1.5"});
    ASSERT_TRUE(ui.Open());
    TcpLine* line = form.Session().NetworkLine();
    ASSERT_NE(line, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.shown.empty(); }, 10000));
    const quint64 wakeUps = line->WakeUps();
    QTest::qWait(500);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Ошибка СОМ порта"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Связь с СОМ портом потеряна"));
    EXPECT_TRUE(boxes.shown[0].detail.contains(Endpoint())) << boxes.shown[0].detail.toStdString();
    EXPECT_LE(line->WakeUps() - wakeUps, 1u);
    EXPECT_FALSE(form.Session().IsOpen());
    EXPECT_FALSE(form.Timer()->isActive());
    EXPECT_FALSE(ui.Lit());
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Открыть"));
    EXPECT_TRUE(ui.Text("E0").isEmpty());

    ASSERT_EQ(sim->waitExit(10000), 0);
    ui.Click("ButtonCOM");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, QStringLiteral("Не могу открыть СОМ порт"));
    EXPECT_TRUE(boxes.shown[1].detail.contains(Endpoint()));
    EXPECT_TRUE(boxes.shown[1].detail.contains(QString::fromLocal8Bit(std::strerror(ECONNREFUSED))))
        << boxes.shown[1].detail.toStdString();
    EXPECT_FALSE(ui.Lit());
}

// The companion saves the relay's settings over the line and loads an
// edited file back: only the two settings that differ are written.
TEST_P(NetworkWindow, CompanionSavesAndLoadsTheSettings)
{
    LoggedSim s({"--set", "81=700", "--set", "82=70", GetParam().option, "0"});
    ::unsetenv("ZASHCHITA_LINE_TIMING");   // answered at once, by default
    ASSERT_TRUE(s.Port().startsWith(QLatin1String(GetParam().scheme)));
    const QString file = s.File("relay.json");
    // Asked for, the timing rule rejects every answer, and says so.
    const CliRun timed = RunCli(Args(s, {QStringLiteral("--line-timing"), QStringLiteral("on"), QStringLiteral("records")}));
    EXPECT_EQ(timed.err.contains(QRegularExpression(QStringLiteral("^zashchita-cli: every reply .* line-timing rule: .* --line-timing off$"),
                                                    QRegularExpression::MultilineOption)),
              GetParam().option == std::string("--tcp")) << timed.err.toStdString();
    const CliRun save = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file}));
    ASSERT_EQ(save.exitCode, 0) << save.err.toStdString();
    EXPECT_TRUE(save.out.contains(QStringLiteral("saved 43 settings"))) << save.out.toStdString();

    const QString once = Replaced(file, QStringLiteral("\"register\": 81, \"value\": 700"),
                                  QStringLiteral("\"register\": 81, \"value\": 650"));
    const QString edited = Replaced(once, QStringLiteral("\"register\": 82, \"value\": 70"),
                                    QStringLiteral("\"register\": 82, \"value\": 55"));
    const CliRun load = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), edited,
                                        QStringLiteral("--yes")}));
    ASSERT_EQ(load.exitCode, 0) << load.out.toStdString() << load.err.toStdString();
    EXPECT_TRUE(load.err.contains(QStringLiteral("read back: the relay holds the file's settings")));
    EXPECT_EQ(s.WriteFrames(), (std::vector<Frame>{WriteFrame(81, 650), WriteFrame(82, 55)}));

    const CliRun diff = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("diff"), edited}));
    EXPECT_EQ(diff.exitCode, 0) << diff.err.toStdString();
    EXPECT_TRUE(diff.out.isEmpty()) << diff.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothForms, NetworkWindow, ::testing::ValuesIn(kForms),
                         [](const ::testing::TestParamInfo<Form>& info) {
                             return std::string(info.param.option[2] == 't' ? "DeviceServer" : "Gateway");
                         });

TEST(NetworkCommandLines, BadEndpointsAreRefusedBeforeAnythingIsOpened)
{
    for (const char* bad : {"tcp://host", "modbus-tcp://host:0", "tcp://[::1"}) {
        const CliRun run = RunCli({QStringLiteral("--port"), QLatin1String(bad), QStringLiteral("records")});
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_TRUE(run.err.contains(QLatin1String(bad))) << run.err.toStdString();
    }
}

// ---- the search for the relay's address ----------------------------------

QMenu* OpenAddressMenu(TForm1& form)
{
    auto* field = form.ControlAs<TSpinEdit>(QStringLiteral("SEAddres"));
    const QPoint at = field->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, field->mapToGlobal(at));
    QApplication::sendEvent(field, &event);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QAction* SearchItem(QMenu* menu)
{
    for (QAction* action : menu->actions())
        if (action->text() == QStringLiteral("Найти адрес реле…"))
            return action;
    return nullptr;
}

// Two relays on one line, at 7 and 200: the search asks every address once
// for the address register, one after the other with nothing polled in
// between, finds those two and nothing else, and the window goes on with 7.
TEST(AddressSearch, FindsBothRelaysOnTheLineAndTalksToTheFirst)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("sim.log"));
    RelaySim sim({"--no-pace", "--freeze", "--address", "7", "--address", "200", "--log", log.toStdString()});
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    QApplication::setActiveWindow(&form);
    WindowDriver ui{form};
    auto* search = form.findChild<AddressSearch*>();
    ASSERT_NE(search, nullptr);

    QMenu* menu = OpenAddressMenu(form);
    ASSERT_NE(menu, nullptr);
    ASSERT_NE(SearchItem(menu), nullptr);
    EXPECT_FALSE(SearchItem(menu)->isEnabled()) << "the port must be open";
    menu->close();
    EXPECT_FALSE(search->Start());

    ui.Click("ButtonCOM");   // address 1: nobody answers
    ASSERT_TRUE(form.Session().IsOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Link().LinkLost(); }, 10000));
    menu = OpenAddressMenu(form);
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(SearchItem(menu)->isEnabled());
    SearchItem(menu)->trigger();
    menu->close();
    ASSERT_TRUE(search->Running());
    ASSERT_NE(search->Dialog(), nullptr);
    EXPECT_TRUE(search->Dialog()->isVisible());
    EXPECT_TRUE(search->Dialog()->isModal());
    EXPECT_EQ(search->Button()->text(), QStringLiteral("Остановить"));

    ASSERT_TRUE(QTest::qWaitFor([&] { return !search->Running(); }, 240000));
    EXPECT_EQ(search->Found(), (std::vector<int>{7, 200}));
    EXPECT_EQ(form.ControlAs<TSpinEdit>(QStringLiteral("SEAddres"))->Value(), 7);
    EXPECT_EQ(form.Link().SlaveAddress, 7);
    EXPECT_TRUE(search->Dialog()->isVisible()) << "the outcome stays shown until closed";
    EXPECT_TRUE(search->Status()->text().contains(QStringLiteral("7, 200"))) << search->Status()->text().toStdString();
    EXPECT_EQ(search->Button()->text(), QStringLiteral("Закрыть"));
    EXPECT_EQ(search->Dialog()->findChild<QProgressBar*>()->value(), AddressSearch::kLastAddress);

    // Polling goes on, with the relay found.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.Text("E0").isEmpty(); }, 10000));
    EXPECT_FALSE(form.Link().LinkLost());
    QTest::mouseClick(search->Button(), Qt::LeftButton);
    EXPECT_FALSE(search->Dialog()->isVisible());
    EXPECT_TRUE(boxes.shown.empty());

    // On the line: each address asked once, in order, those that answered
    // once more, and nothing polled from the first question to the last.
    const std::vector<Frame> frames = LoggedFrames(log);
    const auto first = std::find(frames.begin(), frames.end(), RelaySim::readRequest(1, 80, 1));
    ASSERT_NE(first, frames.end());
    std::vector<Frame> expected;
    for (int address = 1; address <= AddressSearch::kLastAddress; ++address)
        expected.insert(expected.end(), address == 7 || address == 200 ? 2 : 1, RelaySim::readRequest(uint8_t(address), 80, 1));
    ASSERT_GE(frames.end() - first, std::ptrdiff_t(expected.size()));
    EXPECT_EQ(std::vector<Frame>(first, first + std::ptrdiff_t(expected.size())), expected);
    EXPECT_EQ(frames.back(), RelaySim::readRequest(7, 50, 29));
    ui.Close();
}

// Stopped half way: what was found so far is taken, and polling goes on.
TEST(AddressSearch, StoppedSearchKeepsWhatItFound)
{
    RelaySim sim({"--no-pace", "--freeze", "--address", "3", "--address", "200"});
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    auto* search = form.findChild<AddressSearch*>();
    ui.Click("ButtonCOM");
    ASSERT_TRUE(search->Start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !search->Found().empty(); }, 30000));
    QTest::mouseClick(search->Button(), Qt::LeftButton);
    EXPECT_FALSE(search->Running());
    EXPECT_FALSE(search->Dialog()->isVisible());
    EXPECT_EQ(search->Found(), std::vector<int>{3});
    EXPECT_EQ(form.Link().SlaveAddress, 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.Text("E0").isEmpty(); }, 10000));
    ui.Close();
}

}  // namespace
