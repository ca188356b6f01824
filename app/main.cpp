// Program start: the command line, the application's title, the main window,
// the message loop.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ZashchitaVersion.h"
#include "app/CommandLine.h"
#include "app/QtTranslations.h"
#include "app/UnitMain.h"

namespace {

// What Qt says while the window system starts: held back, and given to the
// usual handler once it has started. When it cannot start, Qt ends with a
// fatal message (and an abort); the user is told instead, in one line, that
// there is no display and what works without one.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
std::vector<HeldMessage>* heldMessages = nullptr;

void WindowSystemStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fputs("zashchita: no display found (the window system could not be started); "
                   "zashchita-cli works without one\n",
                   stderr);
        std::fflush(stderr);
        std::_Exit(kExitNoDisplay);
    }
    if (heldMessages)
        heldMessages->push_back({type, QByteArray(context.category), message});
}

std::unique_ptr<QApplication> StartWindowSystem(int& argc, char** argv)
{
    std::vector<HeldMessage> held;
    heldMessages = &held;
    const QtMessageHandler usual = qInstallMessageHandler(WindowSystemStartMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(usual);
    heldMessages = nullptr;
    for (const HeldMessage& m : held)
        qt_message_output(m.type, QMessageLogContext(nullptr, 0, nullptr, m.category.constData()), m.text);
    return app;
}

void SetNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("Защита"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZASHCHITA_VERSION));
}

int BadUsage(const QString& error)
{
    std::fprintf(stderr, "zashchita: %s\nTry zashchita --help.\n", qPrintable(error));
    return kExitBadUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // The command line is checked before the window system starts, so a bad
    // one is answered the same with a display or without.
    QCommandLineParser parser;
    SetUpCommandLine(parser);
    QString error;
    if (!ParseCommandLine(parser, arguments, &error))
        return BadUsage(error);

    // --help and --version need no window system.
    if (AsksForTextOnly(argc, argv)) {
        QCoreApplication app(argc, argv);
        SetNames();
        parser.process(arguments);   // answers and exits
        return 0;
    }

    QString com1Path;
    if (!ApplyCommandLine(parser, &com1Path, &error))
        return BadUsage(error);
    AnchorDevicePaths();

    const std::unique_ptr<QApplication> app = StartWindowSystem(argc, argv);
    SetNames();
    InstallQtTranslations(*app);
    TForm1 form;
    form.SetCom1Path(com1Path);
    form.SetReadOnly(AsksReadOnly(parser));
    form.show();
    return app->exec();
}
