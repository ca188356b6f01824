// One line of the plant: its session, the round over its relays, and what
// each answer does to the relays' metrics and to the archive of event
// records. The current parameters are read at full rate; the settings block
// (for the rated current) and the four event records every few seconds, and
// at once when a relay's status word changes or it answers again.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "ExporterConfig.h"
#include "RelayMetrics.h"
#include "report/TripArchive.h"
#include "link/RelayRound.h"
#include "link/RelaySession.h"

class LinePoller : public QObject {
    Q_OBJECT
public:
    LinePoller(const LineConfig& config, MetricFamilies& families, TripArchive& archive, QObject* parent = nullptr);
    ~LinePoller() override;

    // Opens the line and starts the round; a line that cannot be opened, or
    // goes away, is tried again every few seconds.
    void Start();

    static constexpr int kSlowPeriodMs = 10000;   // settings and records, at least this often
    static constexpr int kReopenMs = 5000;

private:
    struct Relay {
        RelayConfig config;
        std::unique_ptr<RelayMetrics> metrics;
        std::optional<uint16_t> lastStatus;
        std::deque<RegisterBlock> slow;      // settings and records still to read
        qint64 slowDueMs = 0;
        bool slowTurn = false;               // the relay's next question is a slow one
        // Each record slot's registers as last found in the archive: the
        // same record read again is not looked up again.
        std::vector<std::vector<uint16_t>> archived;
    };

    void open();
    void lineLost(const QString& reason);
    Question nextQuestion(int address);
    RegisterBlock nextBlock(int address);
    void onAnswer(int address, const Answer& answer);
    void onValues(int address, const RegisterValues& values);
    void onFailure(int address, const Answer& answer);
    void pace();
    void onLook(int address, bool present);
    void onRecord(Relay& relay, const RegisterValues& values);
    void scheduleSlow(Relay& relay);
    void countUnasked();
    Relay* find(int address);

    LineConfig config_;
    TripArchive& archive_;
    LineMetrics lineMetrics_;
    RelaySession session_;
    std::unique_ptr<RelayRound> round_;
    QTimer paced_;              // restarts the round held back by the poll interval
    qint64 lastAskedMs_ = 0;    // when the round's last question finished
    std::vector<Relay> relays_;
    QTimer reopen_;
    QElapsedTimer clock_;
    uint32_t unaskedSeen_ = 0;
    bool openFailedTold_ = false;
};
