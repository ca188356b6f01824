// zashchita-cli: the relay's settings backed up, compared and restored, its
// event records and live values printed, from a script; no window.
#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "CliOptions.h"
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "serial/ComPort.h"
#include "settings/AtomicFile.h"

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
    // A reader that goes away (`| head`) shows as EPIPE on the next write,
    // and the command stops quietly with its exit code instead of dying.
    std::signal(SIGPIPE, SIG_IGN);

    const ParsedCommandLine parsed = ParseCommandLine(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::Help:
        std::fputs(parsed.text.toUtf8().constData(), stdout);
        return kExitDone;
    case ParsedCommandLine::Outcome::BadUsage:
        Report(parsed.text);
        Report(QStringLiteral("try zashchita-cli --help"));
        return kExitBadUsage;
    case ParsedCommandLine::Outcome::Run:
        break;
    }
    if (parsed.options.trace)
        QLoggingCategory::setFilterRules(QStringLiteral("zashchita.link.debug=true"));
    try {
        return RunCommand(parsed.options);
    } catch (const EComPort& e) {
        // The link reports a lost line as an outcome; should the port fail
        // anywhere else, it is said in the program's words all the same.
        Report(QStringLiteral("the port failed: %1").arg(e.OsErrorCode > 0 ? SystemReason(e.OsErrorCode)
                                                                              : QStringLiteral("unknown reason")));
        return kExitRelayFailed;
    }
}
