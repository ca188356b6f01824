// Program start: the application's title, the command line, the main window,
// the message loop.
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>

#include "ZashchitaVersion.h"
#include "app/CommandLine.h"
#include "app/UnitMain.h"

int main(int argc, char** argv)
{
    // --help and --version need no window system.
    std::unique_ptr<QCoreApplication> app;
    if (AsksForTextOnly(argc, argv))
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Защита"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZASHCHITA_VERSION));

    QCommandLineParser parser;
    SetUpCommandLine(parser);
    parser.process(*app);   // prints and exits for --help, --version and unknown options
    QString error;
    if (!ApplyCommandLine(parser, &error)) {
        std::fprintf(stderr, "zashchita: %s\n", qPrintable(error));
        return 1;
    }

    TForm1 form;
    form.show();
    return app->exec();
}
