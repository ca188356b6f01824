// Drives the main window as a user does: by control names, clicks, typing and
// ENTER; and answers its message boxes instead of a person.
#pragma once

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/ComLed.h"
#include "app/MessageBoxes.h"
#include "app/PageControl.h"
#include "app/UnitMain.h"

class MessageCatcher {
public:
    MessageCatcher()
    {
        SetErrorMessageHook([this](const ErrorMessage& m) { shown.push_back(m); });
    }
    ~MessageCatcher() { SetErrorMessageHook({}); }
    std::vector<ErrorMessage> shown;
};

class PortEnv {
public:
    PortEnv(int n, const std::string& path) : name_("ZASHCHITA_COM" + std::to_string(n))
    {
        setenv(name_.c_str(), path.c_str(), 1);
    }
    ~PortEnv() { unsetenv(name_.c_str()); }

private:
    std::string name_;
};

struct WindowDriver {
    TForm1& form;

    QPushButton* Button(const char* name) { return form.ControlAs<QPushButton>(QLatin1String(name)); }
    QLineEdit* Edit(const char* name) { return form.ControlAs<QLineEdit>(QLatin1String(name)); }
    QString Text(const char* name) { return Edit(name)->text(); }

    void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
    void SelectPage(int index)
    {
        QTabBar* tabs = form.PageControl1()->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(index).center());
    }
    void RightClickPortLabel()
    {
        auto* label = form.ControlAs<QLabel>(QStringLiteral("LabelNum"));
        const QPoint at = label->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, label->mapToGlobal(at));
        QApplication::sendEvent(label, &event);
    }
    bool Open()
    {
        Click("ButtonCOM");
        return QTest::qWaitFor([&] { return !Text("E0").isEmpty(); }, 10000);
    }
    bool Close()
    {
        Click("ButtonCOM");
        return QTest::qWaitFor([&] { return !form.ComPort()->Connected(); }, 5000);
    }
    bool Lit() { return form.ControlAs<TComLed>(QStringLiteral("ComLed"))->State() == lsOn; }
};
