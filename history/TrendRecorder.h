// What the window keeps of the current parameters it polls: the trend
// history (bounded, see history/TrendHistory.h) and the motor starts, each
// kept on disk as a start record as soon as it is complete, whether the trend
// window is open or not. Nothing is asked of the relay for it but the rated
// current, once, when a start has ended and no read has brought it yet.
//
// Both are kept per relay (the session's port and slave address): the
// history of the relay polled now, kept on disk (history/HistoryFile.h) and
// read back when that relay is polled again or named at start-up, and each
// start with the relay it is of.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "history/HistoryFile.h"
#include "history/RelayId.h"
#include "history/StartDetector.h"
#include "history/StartFiles.h"
#include "history/TrendHistory.h"
#include "link/RegisterValues.h"

class QTimer;
class RelaySession;

class TrendRecorder : public QObject {
    Q_OBJECT
public:
    // What is polled reaches the disk this often (and when the relay
    // changes or the recorder goes).
    static constexpr int kFlushMs = 5000;

    TrendRecorder(RelaySession& session, QObject* parent = nullptr);
    ~TrendRecorder() override;

    // A current-parameters reply the window decoded, at the PC's time `ms`;
    // of the relay the session polls now, whose history is read first when
    // it is another than before.
    void Sample(const RegisterValues& reply, qint64 ms);
    // The link was lost or the port closed: the lines break here.
    void Break();

    // The relay whose history is kept now: its history is read from disk in
    // place of the one before, which is written first. Also what the window
    // shows before any reply (the relay it polled last).
    void SetRelay(const RelayId& relay);
    const RelayId& Relay() const { return relay_; }
    // The name the user gave a relay; the window sets it (none: no names).
    std::function<QString(const RelayId&)> NameOf;

    const TrendHistory& History() const { return history_; }
    TrendHistory& History() { return history_; }
    bool Recording() const { return detector_.Recording(); }
    int RatedCentiAmps() const { return ratedCentiAmps_; }

    // Where the records go; StartsFolder() unless a test says otherwise.
    void SetStartsFolder(const QString& folder) { startsFolder_ = folder; }
    QString Folder() const { return startsFolder_; }
    // Where the histories are kept; HistoryFile::DefaultFolder() unless a
    // test says otherwise. The relay's history is read again from there.
    void SetHistoryFolder(const QString& folder);
    QString HistoryFolder() const { return historyFolder_; }
    // The history's file of the relay now, empty for none.
    QString HistoryPath() const;
    // Writes what waits for the disk now, and waits for it.
    void FlushHistory();

    // Draws a record's picture as PNG; the window sets it (none: no picture).
    std::function<QByteArray(const StartRecord&, int ratedCentiAmps, const RelayId& relay)> DrawPicture;

signals:
    // A start record was written to `folder`, or could not be (`reason`).
    void startKept(const QString& folder);
    void startNotKept(const QString& reason);
    // Anything was added to the history.
    void sampled();
    // The history is another relay's now.
    void relayChanged(const RelayId& relay);
    // The history's file was set aside or could not be written; in the user's words.
    void historyTrouble(const QString& message);

private:
    RelayId polledRelay() const;
    void switchTo(const RelayId& relay);
    void flush(bool waitForCopy);
    void blockRead(const RegisterValues& values);
    void complete(const StartRecord& record);
    void keepWaiting();
    void keep(const StartRecord& record, const RelayId& relay);

    RelaySession& session_;
    TrendHistory history_;
    StartDetector detector_;
    RelayId relay_;
    std::unique_ptr<HistoryFile> file_;
    QTimer* flush_ = nullptr;
    bool flushFailed_ = false;   // said once until a write succeeds again
    QString startsFolder_;
    QString historyFolder_;
    int ratedCentiAmps_ = 0;
    bool ratedAsked_ = false;
    std::optional<StartRecord> waiting_;   // a record waiting for the rated current
    RelayId waitingRelay_;
};
