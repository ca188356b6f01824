// zashchita-cli: the relay's settings backed up, compared and restored, its
// event records and live values printed, from a script; no window.
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <cstring>

#include "CliOptions.h"
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "serial/ComPort.h"

namespace {

// Every message on stderr as "category: text", the frame trace's lines included.
void MessageToStderr(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    QByteArray line;
    if (context.category && std::strcmp(context.category, "default") != 0)
        line = QByteArray(context.category) + ": ";
    line += message.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zashchita-cli"));
    qInstallMessageHandler(MessageToStderr);

    const ParsedCommandLine parsed = ParseCommandLine(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::Help:
        std::fputs(parsed.text.toUtf8().constData(), stdout);
        return kExitDone;
    case ParsedCommandLine::Outcome::BadUsage:
        ReportLine(QStringLiteral("zashchita-cli: %1").arg(parsed.text));
        ReportLine(QStringLiteral("Try zashchita-cli --help."));
        return kExitBadUsage;
    case ParsedCommandLine::Outcome::Run:
        break;
    }
    if (parsed.options.trace)
        QLoggingCategory::setFilterRules(QStringLiteral("zashchita.link.debug=true"));
    try {
        return RunCommand(parsed.options);
    } catch (const EComPort& e) {
        // The device failed under way: a pulled adapter, a closed line.
        ReportLine(QStringLiteral("the port failed: %1").arg(e.Message()));
        return kExitRelayFailed;
    }
}
