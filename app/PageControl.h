// TPageControl: the window's page control. It tells apart page changes made
// by the user (a click on a tab, the keyboard on the tab bar or Ctrl+Tab, the
// mouse wheel) from those made by code: only the user's raise changing()
// and changed(); SelectFromCode() raises neither.
#pragma once

#include <QTabWidget>

class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(QWidget* parent = nullptr);

    // Shows the page without raising changing() or changed().
    void SelectFromCode(int index);

    // Adds a page without raising changing() or changed().
    int AddPage(QWidget* page, const QString& caption);

signals:
    // The user is leaving the page leavingIndex. Raised before changed().
    void changing(int leavingIndex);
    // The user has selected the page newIndex.
    void changed(int newIndex);

protected:
    void tabInserted(int index) override;
    void tabRemoved(int index) override;

private:
    void onCurrentChanged(int index);

    int shown_ = -1;
    bool fromCode_ = false;
};
