// The command line (--help, --version, --port) and the port menu's tool tips,
// which tell the device each COM item opens.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QCommandLineParser>
#include <QMenu>
#include <QTest>

#include <cstdlib>
#include <string>
#include <vector>

#include "ZashchitaVersion.h"
#include "app/CommandLine.h"
#include "app/WindowLayout.h"
#include "serial/ComPort.h"
#include "support/RelaySim.h"
#include "support/WindowDriver.h"

namespace {

bool TextOnly(std::vector<const char*> args)
{
    args.insert(args.begin(), "zashchita");
    return AsksForTextOnly(int(args.size()), args.data());
}

// Sets or clears one variable for a test and puts back what was there.
class EnvVar {
public:
    explicit EnvVar(const char* name) : name_(name)
    {
        if (const char* value = std::getenv(name)) {
            had_ = true;
            old_ = value;
        }
    }
    ~EnvVar()
    {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    void Set(const std::string& value) { setenv(name_.c_str(), value.c_str(), 1); }
    void Clear() { unsetenv(name_.c_str()); }

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// Parses like main() does, then applies; the device COM1 opens in *com1.
bool ParseAndApply(const QStringList& args, QString* error = nullptr, QString* com1 = nullptr)
{
    QCommandLineParser parser;
    SetUpCommandLine(parser);
    if (!parser.parse(QStringList{QStringLiteral("zashchita")} + args)) {
        if (error)
            *error = parser.errorText();
        return false;
    }
    QString path;
    const bool ok = ApplyCommandLine(parser, &path, error);
    if (com1)
        *com1 = path;
    return ok;
}

} // namespace

TEST(CommandLine, HelpAndVersionAreAnsweredWithoutAWindow)
{
    EXPECT_TRUE(TextOnly({"--version"}));
    EXPECT_TRUE(TextOnly({"-v"}));
    EXPECT_TRUE(TextOnly({"--help"}));
    EXPECT_TRUE(TextOnly({"-h"}));
    EXPECT_TRUE(TextOnly({"--help-all"}));
    EXPECT_TRUE(TextOnly({"--port", "/dev/ttyUSB0", "-v"}));
    EXPECT_FALSE(TextOnly({}));
    EXPECT_FALSE(TextOnly({"--port", "/dev/ttyUSB0"}));
    // A device path that looks like an option is still the device.
    EXPECT_FALSE(TextOnly({"--port", "-v"}));
    EXPECT_FALSE(TextOnly({"--", "--version"}));
}

TEST(CommandLine, OffersHelpVersionAndPort)
{
    QCommandLineParser parser;
    SetUpCommandLine(parser);
    const QString help = parser.helpText();
    EXPECT_TRUE(help.contains(QStringLiteral("-h, --help")));
    EXPECT_TRUE(help.contains(QStringLiteral("-v, --version")));
    EXPECT_TRUE(help.contains(QStringLiteral("--port <PATH>")));
    EXPECT_TRUE(help.contains(QStringLiteral("ZASHCHITA_COM1")));
}

// --port names the device COM1 opens, winning over ZASHCHITA_COM1, and
// leaves the user's environment as it was.
TEST(CommandLine, PortNamesTheDeviceCom1OpensAndLeavesTheEnvironmentAlone)
{
    EnvVar com1("ZASHCHITA_COM1");
    com1.Set("/dev/ttyS0");
    QString path;
    ASSERT_TRUE(ParseAndApply({QStringLiteral("--port"), QStringLiteral("/dev/serial/by-id/usb-RS485-if00-port0")},
                              nullptr, &path));
    EXPECT_EQ(path, QStringLiteral("/dev/serial/by-id/usb-RS485-if00-port0"));
    EXPECT_STREQ(std::getenv("ZASHCHITA_COM1"), "/dev/ttyS0");

    ASSERT_TRUE(ParseAndApply({QStringLiteral("--port=/tmp/relay")}, nullptr, &path));
    EXPECT_EQ(path, QStringLiteral("/tmp/relay"));
    ASSERT_TRUE(ParseAndApply({}, nullptr, &path));
    EXPECT_TRUE(path.isEmpty());
}

TEST(CommandLine, NoPortLeavesTheEnvironmentAlone)
{
    EnvVar com1("ZASHCHITA_COM1");
    com1.Set("/tmp/from-environment");
    ASSERT_TRUE(ParseAndApply({}));
    EXPECT_STREQ(std::getenv("ZASHCHITA_COM1"), "/tmp/from-environment");
    com1.Clear();
    ASSERT_TRUE(ParseAndApply({}));
    EXPECT_EQ(std::getenv("ZASHCHITA_COM1"), nullptr);
}

TEST(CommandLine, EmptyOrMissingPortAndUnknownOptionsAreRefused)
{
    EnvVar com1("ZASHCHITA_COM1");
    com1.Set("/tmp/kept");
    QString error;
    EXPECT_FALSE(ParseAndApply({QStringLiteral("--port=")}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("--port")));
    EXPECT_FALSE(ParseAndApply({QStringLiteral("--port")}, &error));
    EXPECT_FALSE(ParseAndApply({QStringLiteral("--baud"), QStringLiteral("19200")}, &error));
    EXPECT_STREQ(std::getenv("ZASHCHITA_COM1"), "/tmp/kept");
}

// An endpoint is no path: taken as written, never against the working
// directory, and refused at once when it is not well formed.
TEST(CommandLine, PortTakesANetworkEndpointAsWritten)
{
    EnvVar com1("ZASHCHITA_COM1");
    EnvVar com2("ZASHCHITA_COM2");
    QString path;
    ASSERT_TRUE(ParseAndApply({QStringLiteral("--port"), QStringLiteral("modbus-tcp://10.0.0.7")}, nullptr, &path));
    EXPECT_EQ(path, QStringLiteral("modbus-tcp://10.0.0.7"));
    com2.Set("tcp://gw:4001");
    AnchorDevicePaths();
    EXPECT_STREQ(std::getenv("ZASHCHITA_COM2"), "tcp://gw:4001");

    QString error;
    EXPECT_FALSE(ParseAndApply({QStringLiteral("--port"), QStringLiteral("tcp://gw")}, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("tcp://gw"))) << error.toStdString();
}

// ------------------------------------------------------------ port menu tips

TEST(PortMenu, ItemsKeepTheirCaptionsAndTellTheDeviceTheyOpen)
{
    EnvVar com2("ZASHCHITA_COM2");
    EnvVar com4("ZASHCHITA_COM4");
    com2.Set("/tmp/relay-two");
    com4.Clear();
    QWidget form;
    WindowControls controls;
    BuildWindowLayout(&form, controls);
    ASSERT_NE(controls.PopupMenu, nullptr);
    EXPECT_TRUE(controls.PopupMenu->toolTipsVisible());
    for (int i = 0; i < 4; ++i) {
        // Cyrillic С, О, М.
        EXPECT_EQ(controls.N[i]->text(), QStringLiteral("\u0421\u041E\u041C %1").arg(i + 1));
        EXPECT_EQ(controls.N[i]->toolTip(),
                  TComPort::DevicePathFor(QStringLiteral("COM%1").arg(i + 1)));
    }
    EXPECT_EQ(controls.N[1]->toolTip(), QStringLiteral("/tmp/relay-two"));
    // Without a variable: a device of the fourth port.
    EXPECT_TRUE(controls.N[3]->toolTip().startsWith(QStringLiteral("/dev/tty")));
    EXPECT_TRUE(controls.N[3]->toolTip().endsWith(QStringLiteral("3")));
}

TEST(PortMenu, TipsAreTakenAnewWhenTheMenuIsAboutToShow)
{
    EnvVar com3("ZASHCHITA_COM3");
    com3.Clear();
    QWidget form;
    WindowControls controls;
    BuildWindowLayout(&form, controls);
    const QString before = controls.N[2]->toolTip();
    EXPECT_NE(before, QStringLiteral("/tmp/plugged-later"));

    com3.Set("/tmp/plugged-later");
    EXPECT_EQ(controls.N[2]->toolTip(), before);   // not yet shown
    emit controls.PopupMenu->aboutToShow();
    EXPECT_EQ(controls.N[2]->toolTip(), QStringLiteral("/tmp/plugged-later"));
    com3.Clear();
    emit controls.PopupMenu->aboutToShow();
    EXPECT_EQ(controls.N[2]->toolTip(), before);
}

TEST(PortMenu, WindowMenuShowsThePortGivenOnTheCommandLineAndOpensIt)
{
    EnvVar com1("ZASHCHITA_COM1");
    com1.Clear();
    RelaySim sim({"--no-pace", "--freeze"});
    QString path;
    ASSERT_TRUE(ParseAndApply({QStringLiteral("--port"), QString::fromStdString(sim.path())}, nullptr, &path));

    MessageCatcher boxes;
    TForm1 form;
    form.SetCom1Path(path);
    form.show();
    WindowDriver ui{form};
    ui.RightClickPortLabel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.PopupMenu()->isVisible(); }, 2000));
    form.PopupMenu()->hide();
    EXPECT_EQ(form.PopupMenu()->actions().at(0)->toolTip(), QString::fromStdString(sim.path()));

    ASSERT_TRUE(ui.Open());
    EXPECT_EQ(form.ComPort()->DevicePath(), QString::fromStdString(sim.path()));
    EXPECT_TRUE(ui.Close());
    EXPECT_TRUE(boxes.shown.empty());
}

// ------------------------------------------------------------ version

TEST(Version, AboutPageShowsTheProjectVersion)
{
    QWidget form;
    WindowControls controls;
    BuildWindowLayout(&form, controls);
    auto* about = controls.Get<QLabel>(QStringLiteral("StaticText1"));
    ASSERT_NE(about, nullptr);
    const QString version = QStringLiteral(ZASHCHITA_VERSION);
    EXPECT_FALSE(version.isEmpty());
    EXPECT_TRUE(about->text().endsWith(QStringLiteral("\nVersion ") + version + QStringLiteral(".")))
        << about->text().toStdString();
}
