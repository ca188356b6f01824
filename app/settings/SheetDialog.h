// The settings sheet's dialog: the object's name and the file, then a fresh
// read of the relay's settings and clock, and the PDF written whole (an
// earlier file at the path stays as it was when writing fails). The sheet
// goes into binders: the relay's password is masked on it unless the user
// ticks the box to print it.
#pragma once

#include <QDialog>
#include <QPointer>

#include <functional>

#include "app/settings/SettingsSheet.h"
#include "link/RegisterValues.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class RelayQuestions;

class SheetDialog : public QDialog {
    Q_OBJECT
public:
    // Makes the sheet's content from the settings block and the current
    // parameters block (the relay's clock) and the object's name.
    using MakeContent = std::function<SheetContent(const RegisterValues& settings, const RegisterValues& current,
                                                   const QString& objectName)>;

    SheetDialog(RelayQuestions& questions, MakeContent make, QWidget* parent = nullptr);
    ~SheetDialog() override;

    QLineEdit* ObjectName() const { return objectName_; }
    QLineEdit* FilePath() const { return path_; }
    QPushButton* SaveButton() const { return save_; }
    // Ticked: the relay's password is printed; else it is masked (the default).
    QCheckBox* PrintPassword() const { return printPassword_; }
    QLabel* Status() const { return status_; }
    bool Busy() const { return busy_; }

signals:
    // The sheet was written, or could not be: Status() says which.
    void done(bool ok);

private:
    void browse();
    void saveSheet();
    void settingsRead(const RegisterValues* values, const QString& failure);
    void currentRead(const RegisterValues* values, const QString& failure);
    void finish(bool ok, const QString& text);

    QPointer<RelayQuestions> questions_;   // goes with the window's actions
    MakeContent make_;
    RegisterValues settings_;
    QString target_;
    bool busy_ = false;
    QLineEdit* objectName_ = nullptr;
    QLineEdit* path_ = nullptr;
    QPushButton* save_ = nullptr;
    QCheckBox* printPassword_ = nullptr;
    QLabel* status_ = nullptr;
};
