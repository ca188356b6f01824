// Program start: the application's title, the main window, the message loop.
#include <QApplication>

#include "app/UnitMain.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Защита"));
    TForm1 form;
    form.show();
    return app.exec();
}
