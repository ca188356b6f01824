// The frame trace: off by default; turned on, one line per request, per whole
// reply with what became of it, and per time-out, against the simulator.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <QRegularExpression>

#include "link/FrameTrace.h"
#include "support/RelaySim.h"
#include "support/WindowDriver.h"

namespace {

QStringList g_lines;

void Capture(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (QLatin1String(context.category) == QLatin1String("zashchita.link"))
        g_lines << message;
}

struct TraceOn {
    QtMessageHandler previous = qInstallMessageHandler(Capture);
    TraceOn() { QLoggingCategory::setFilterRules(QStringLiteral("zashchita.link.debug=true")); }
    ~TraceOn()
    {
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(previous);
    }
};

bool Has(const QRegularExpression& pattern)
{
    for (const QString& line : g_lines)
        if (pattern.match(line).hasMatch())
            return true;
    return false;
}

TEST(FrameTrace, OffByDefault)
{
    EXPECT_FALSE(lcLink().isDebugEnabled());
}

TEST(FrameTrace, RequestsRepliesAndTimeOutsAgainstTheSimulator)
{
    g_lines.clear();
    TraceOn on;
    RelaySim sim({"--no-pace", "--freeze", "--bad-crc", "0.3", "--drop", "0.3", "--seed", "11"});
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ASSERT_TRUE(ui.Open());
    const QString ms = QStringLiteral("^ *\\d+\\.\\d ms  ");
    const QRegularExpression request(ms + QStringLiteral("-> 01 03 00 32 00 1D 24 0C$"));
    const QRegularExpression accepted(ms + QStringLiteral("<- 01 03 3A( [0-9A-F]{2}){60}  accepted$"));
    const QRegularExpression badCrc(ms + QStringLiteral("<- 01 03 3A( [0-9A-F]{2}){60}  bad CRC$"));
    const QRegularExpression timeOut(ms + QStringLiteral("time-out: no reply to 01 03 00 32 00 1D 24 0C$"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Has(accepted) && Has(badCrc) && Has(timeOut); }, 20000))
        << g_lines.join('\n').toStdString();
    EXPECT_TRUE(Has(request));
    ui.Close();
}

}  // namespace
