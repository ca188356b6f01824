// One line of the plant: its session, opened (and opened again after a
// loss or a failed open), and the round over its relays, asking each the
// block its schedule names (BlockSchedule). What comes of it goes out as
// typed events (PollEvents.h) to the exporter's outputs; the poller knows
// none of them.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

#include "BlockSchedule.h"
#include "ExporterConfig.h"
#include "PollEvents.h"
#include "link/RelayRound.h"
#include "link/RelaySession.h"

// What a test may put in place of the real line and clocks.
struct LineHooks {
    // Opens the session's line (throws when it cannot); default: the port the
    // configuration names.
    std::function<void(RelaySession&)> open;
    // Milliseconds on a steady clock (the schedule, the round's back-off,
    // the pacing); default: one started with the poller.
    std::function<qint64()> steadyMs;
    // Unix time in milliseconds, for when a block was read.
    std::function<qint64()> unixMs;
};

class LinePoller : public QObject {
    Q_OBJECT
public:
    LinePoller(const LineConfig& config, PollOutput& outputs, LineHooks hooks = {}, QObject* parent = nullptr);
    ~LinePoller() override;

    // Opens the line and starts the round; a line that cannot be opened, or
    // goes away, is tried again every kReopenMs.
    void Start();
    RelaySession& Session() { return session_; }

    // Whether `next` can be taken on the run (Reconfigure): the same line on
    // the same session (name, port, time-out); else the poller is made anew.
    bool CanTake(const LineConfig& next) const;
    // Takes the line's new relays and poll interval without a pause: the
    // session stays open, the question on the line goes on, and the relays
    // kept (same address, name and labels) keep their look, schedule and
    // series; those gone are told removed, those new added. False when
    // nothing changed.
    bool Reconfigure(const LineConfig& next);
    const LineConfig& Config() const { return config_; }

    static constexpr int kReopenMs = 5000;

private:
    void open();
    void lineLost(const QString& reason);
    void onAnswer(int address, const Answer& answer);
    void onLook(int address, bool present);
    void pace();
    const RelayRef* find(int address) const;

    LineConfig config_;
    PollOutput& out_;
    LineHooks hooks_;
    std::vector<RelayRef> relays_;
    BlockSchedule schedule_;
    RelaySession session_;
    std::unique_ptr<RelayRound> round_;
    QTimer paced_;              // restarts the round held back by the poll interval
    qint64 lastAskedMs_ = 0;    // when the round's last question finished
    QTimer reopen_;
    uint32_t unaskedSeen_ = 0;
};
