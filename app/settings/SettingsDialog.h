// Comparing the relay's settings with a settings file, and loading chosen
// settings from it. The relay is read afresh when the dialog opens; the
// table has one row per setting of the file (caption, unit, the relay's
// value, the file's value) with the differences marked, and an "only
// differences" toggle; the title counts the differences. For a load each
// differing setting has a tick (all ticked but the relay's own address,
// which takes a tick of its own and warns), and nothing is written before
// "Записать выбранные": then one write at a time with a progress bar, a stop
// at the first write not confirmed, the written and unwritten settings
// named, and the relay read back and compared again.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include <memory>
#include <set>

#include "app/settings/LoadRun.h"
#include "link/RegisterValues.h"
#include "settings/SettingsFile.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class RelayQuestions;
class RelaySession;

class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Compare, Load };
    enum Column { kMark, kCaption, kUnit, kRelay, kFile, kColumns };

    SettingsDialog(Mode mode, const QString& path, const SettingsFile& file, RelayQuestions& questions,
                   RelaySession& session, QWidget* parent = nullptr);
    ~SettingsDialog() override;

    // Reads the relay and shows the comparison.
    void Start();

    Mode DialogMode() const { return mode_; }
    // Reading or writing under way.
    bool Busy() const { return busy_; }
    // Differences in the last comparison; -1 before the relay was read.
    int DifferenceCount() const { return differences_; }
    // The rows of the settings that differ, by name, as shown.
    QStringList DifferingNames() const;
    int RowOf(const QString& name) const;
    bool Ticked(const QString& name) const;
    void SetTicked(const QString& name, bool ticked);
    const LoadOutcome* LastLoad() const { return loaded_ ? &loadOutcome_ : nullptr; }
    // The last load's read-back found the relay's settings (the window's
    // values of them are then current).
    bool LoadReadBack() const { return loadReadBack_; }

    QTableWidget* Table() const { return table_; }
    QCheckBox* OnlyDifferences() const { return onlyDifferences_; }
    QPushButton* WriteButton() const { return writeButton_; }
    QProgressBar* Progress() const { return progress_; }
    QPlainTextEdit* Status() const { return status_; }
    QLabel* AddressWarning() const { return warning_; }

signals:
    // The relay was read (or could not be) and the comparison is shown.
    void compared();
    // A load's writes have ended (before the read-back).
    void writesEnded();

private:
    void readRelay(int address);
    void relayRead(const RegisterValues* values, const QString& failure);
    void fillTable();
    void showOnlyDifferences();
    void itemChanged(QTableWidgetItem* item);
    void writeChosen();
    void loadFinished();
    void setTitle();
    void setStatus(const QString& text, bool trouble);

    Mode mode_;
    QString path_;
    SettingsFile file_;
    QPointer<RelayQuestions> questions_;   // goes with the window's actions
    RelaySession& session_;
    RegisterValues relay_;
    bool haveRelay_ = false;
    int differences_ = -1;
    bool busy_ = false;
    bool filling_ = false;
    bool loaded_ = false;
    LoadPlan plan_;
    std::unique_ptr<LoadRun> run_;
    LoadOutcome loadOutcome_;
    QString loadSummary_;
    bool loadReadBack_ = false;
    int relayAddress_ = 0;   // where the relay answers, 0: at the window's address

    QLabel* header_ = nullptr;
    QCheckBox* onlyDifferences_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* warning_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPlainTextEdit* status_ = nullptr;
    QPushButton* writeButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
};
