// Builds the main window's controls from the layout tables (LayoutTables.h).
//
// The builder only creates and places: it starts no timer, opens no port and
// connects no handler of the window (the port menu only refreshes its own
// tool tips before it shows). The window class finds its controls by name in
// WindowControls::byName and wires them itself.
#pragma once

#include <QHash>
#include <QString>

class QAction;
class QMenu;
class QWidget;
class TPageControl;

struct WindowControls {
    // Every created widget by objectName: the page control, its pages, the
    // panels, every control of every page, the caption and unit labels, and
    // the port menu.
    QHash<QString, QWidget*> byName;
    TPageControl* PageControl1 = nullptr;
    QMenu* PopupMenu = nullptr;   // the port menu; items N[0..3] are "СОМ 1" .. "СОМ 4"
    QAction* N[4] = {nullptr, nullptr, nullptr, nullptr};

    // The widget of that name as a T, or nullptr.
    template <class T>
    T* Get(const QString& name) const { return qobject_cast<T*>(byName.value(name, nullptr)); }
};

// Creates the whole layout on the form: the window's default font, caption and
// fixed client size 605 x 442, PageControl1 with its nine pages (page 2
// selected, as stored), the panels and every control of the tables, and the
// port menu. out is filled in; its previous contents are dropped.
void BuildWindowLayout(QWidget* form, WindowControls& out);

// The window's caption.
QString WindowCaption();
