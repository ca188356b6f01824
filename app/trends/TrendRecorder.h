// What the window keeps of the current parameters it polls: the trend
// history (bounded, see history/TrendHistory.h) and the motor starts, each
// kept on disk as a start record as soon as it is complete, whether the trend
// window is open or not. Nothing is asked of the relay for it but the rated
// current, once, when a start has ended and no read has brought it yet.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "history/StartDetector.h"
#include "history/StartFiles.h"
#include "history/TrendHistory.h"
#include "link/RegisterValues.h"

class RelaySession;

class TrendRecorder : public QObject {
    Q_OBJECT
public:
    TrendRecorder(RelaySession& session, QObject* parent = nullptr);

    // A current-parameters reply the window decoded, at the PC's time `ms`.
    void Sample(const RegisterValues& reply, qint64 ms);
    // The link was lost or the port closed: the lines break here.
    void Break();

    const TrendHistory& History() const { return history_; }
    TrendHistory& History() { return history_; }
    bool Recording() const { return detector_.Recording(); }
    int RatedCentiAmps() const { return ratedCentiAmps_; }

    // Where the records go; StartsFolder() unless a test says otherwise.
    void SetStartsFolder(const QString& folder) { startsFolder_ = folder; }
    QString Folder() const { return startsFolder_; }

    // Draws a record's picture as PNG; the window sets it (none: no picture).
    std::function<QByteArray(const StartRecord&, int ratedCentiAmps)> DrawPicture;

signals:
    // A start record was written to `folder`, or could not be (`reason`).
    void startKept(const QString& folder);
    void startNotKept(const QString& reason);
    // Anything was added to the history.
    void sampled();

private:
    void blockRead(const RegisterValues& values);
    void complete(const StartRecord& record);
    void keepWaiting();
    void keep(const StartRecord& record);

    RelaySession& session_;
    TrendHistory history_;
    StartDetector detector_;
    QString startsFolder_;
    int ratedCentiAmps_ = 0;
    bool ratedAsked_ = false;
    std::optional<StartRecord> waiting_;   // a record waiting for the rated current
};
