// A load's writes from the window: the core's load executor over the
// window's relay session, and what it did in the window's words. Every
// setting is named as written, refused, stored as another value, sent but
// not confirmed (the relay may hold either value), or not sent.
#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

#include "link/RelaySession.h"
#include "settings/LoadExecutor.h"

struct LoadOutcome {
    std::vector<SettingWriteEnd> settings;   // every chosen write, in order, with its fate
    std::vector<PlannedWrite> written;       // confirmed, in order
    std::vector<PlannedWrite> unconfirmed;   // sent, neither confirmed nor refused
    std::vector<PlannedWrite> notWritten;    // refused, stored otherwise, or never sent
    QString stop;                            // why the run stopped; empty when all were written
    bool lineLost = false;                   // the line went away during the load
    bool addressWritten = false;             // the relay's own address was changed
    int newAddress = 0;
};

class LoadRun : public QObject {
    Q_OBJECT
public:
    // `tries`: sends of each question before it is given up; `address`: the
    // relay's, 0: the window's.
    LoadRun(RelaySession& session, int tries, int address, const std::vector<PlannedWrite>& writes,
            const std::vector<SettingValue>& expected, QObject* parent = nullptr);
    ~LoadRun() override;
    void Start();
    const LoadOutcome& Outcome() const { return outcome_; }
    const LoadResult& Result() const;

signals:
    void progress(int done, int total);
    void finished();

private:
    void ended();

    std::unique_ptr<class SessionAsker> asker_;
    std::unique_ptr<LoadExecutor> executor_;
    LoadOutcome outcome_;
};

// "SE2 (81) Ток МТЗ (отсечка): 650 → 600 %"
QString WriteLine(const PlannedWrite& w);
// What became of a write not written, in the window's words.
QString WriteFailureText(const SettingWriteEnd& end);
