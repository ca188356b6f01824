// The settings files, the settings sheet and the journal in the window: a
// context menu of the "Уставки" and "Настройки" pages (a right click on the
// page) with keyboard shortcuts, each action opening a dialog of its own.
// The pages' controls are left as they are. The journal of writes is hooked
// to the window's relay session here.
#pragma once

#include <QObject>
#include <QKeySequence>
#include <QPointer>

#include "app/settings/SettingsSheet.h"
#include "link/RegisterValues.h"

class QAction;
class QMenu;
class QWidget;
class TForm1;
class RelayQuestions;
class JournalRecorder;
class SettingsDialog;
class SheetDialog;
class JournalDialog;
struct SettingsFile;

class SettingsActions : public QObject {
    Q_OBJECT
public:
    explicit SettingsActions(TForm1* form);
    ~SettingsActions() override;

    QAction* SaveAction() const { return save_; }         // Ctrl+S
    QAction* CompareAction() const { return compare_; }   // Ctrl+D
    QAction* LoadAction() const { return load_; }         // Ctrl+O
    QAction* SheetAction() const { return sheet_; }
    QAction* JournalAction() const { return journal_; }
    QMenu* Menu() const { return menu_; }

    RelayQuestions& Questions() { return *questions_; }
    JournalRecorder& Recorder() { return *recorder_; }

    // The dialogs open now, if any (tests drive them).
    SettingsDialog* OpenSettingsDialog() const;
    SheetDialog* OpenSheetDialog() const;
    JournalDialog* OpenJournalDialog() const;

    // The sheet's content from the relay's two blocks, as the window names
    // and shows them.
    SheetContent MakeSheet(const RegisterValues& settings, const RegisterValues& current,
                           const QString& objectName) const;

    void Save();
    void Compare();
    void Load();
    void Sheet();
    void ShowJournal();

    // The window's write conditions changed: the load follows them.
    void WritesChanged();

private:
    QAction* makeAction(const QString& text, const QKeySequence& keys, void (SettingsActions::*run)());
    void pageShown(int index);
    bool relayReady();
    void openSettingsDialog(bool load);
    void settingsSaved(const QString& path, const RegisterValues* values, const QString& failure);
    void journalFailed(const QString& path, const QString& reason);
    QString PortText() const;
    QString ProgramText() const;

    TForm1* form_;
    RelayQuestions* questions_ = nullptr;
    JournalRecorder* recorder_ = nullptr;
    QMenu* menu_ = nullptr;
    QAction* save_ = nullptr;
    QAction* compare_ = nullptr;
    QAction* load_ = nullptr;
    QAction* sheet_ = nullptr;
    QAction* journal_ = nullptr;
    QPointer<SettingsDialog> settingsDialog_;
    QPointer<SheetDialog> sheetDialog_;
    QPointer<JournalDialog> journalDialog_;
};
