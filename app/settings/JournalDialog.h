// "Журнал изменений": every write journalled by the window and the companion,
// newest first, one row per write.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QTableWidget;

class JournalDialog : public QDialog {
    Q_OBJECT
public:
    enum Column { kTime, kProgram, kDevice, kAddress, kRegister, kSetting, kBefore, kValue, kOutcome, kColumns };

    explicit JournalDialog(const QString& path, QWidget* parent = nullptr);

    // Reads the journal again.
    void Reload();
    QTableWidget* Table() const { return table_; }
    QLabel* Status() const { return status_; }

private:
    QString path_;
    QTableWidget* table_ = nullptr;
    QLabel* status_ = nullptr;
};

// The outcome of a journalled write in the window's words.
struct JournalEntry;
QString OutcomeInRussian(const JournalEntry& entry);
