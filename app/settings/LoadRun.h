// A load's writes, made one at a time through the window's questions to the
// relay: each confirmed by its exact echo before the next goes out; the
// first refusal, other value stored or missing answer stops the run.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

#include "link/RelaySession.h"
#include "settings/SettingsPlan.h"

class RelayQuestions;

struct LoadOutcome {
    std::vector<PlannedWrite> written;      // confirmed by their echo, in order
    std::vector<PlannedWrite> notWritten;   // the one that failed first, then those never sent
    QString stop;                           // why the run stopped; empty when all were written
    bool addressWritten = false;            // the relay's own address was changed
    int newAddress = 0;
};

class LoadRun : public QObject {
    Q_OBJECT
public:
    LoadRun(RelayQuestions& questions, std::vector<PlannedWrite> writes, QObject* parent = nullptr);
    void Start();
    const LoadOutcome& Outcome() const { return outcome_; }

signals:
    void progress(int done, int total);
    void finished();

private:
    void writeNext();
    void ended(const WriteResult& result);

    RelayQuestions& questions_;
    std::vector<PlannedWrite> writes_;
    size_t next_ = 0;
    LoadOutcome outcome_;
};

// "SE2 (81) Ток МТЗ (отсечка): 650 → 600 %"
QString WriteLine(const PlannedWrite& w);
// Why a write was not confirmed, in the window's words.
QString WriteFailureText(const PlannedWrite& w, const WriteResult& result);
