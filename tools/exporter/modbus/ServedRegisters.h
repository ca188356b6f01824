// What the Modbus TCP server serves: for each relay given a unit id, the
// last values of every block the exporter polls, each with the moment it
// was read. An output on the pollers' bus writes them (on the pollers'
// thread); the server reads them (on its own). A read is answered only from
// blocks that are all fresh: a relay that stopped answering, or whose line
// went away, has its values forgotten at once, and a block older than its
// bound is not served either.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "ExporterConfig.h"
#include "PollEvents.h"

class ServedRegisters : public PollOutput {
public:
    // A read's outcome: the values, or the exception that answers it.
    struct Read {
        uint8_t exception = 0;          // 0: `values` holds the registers
        std::vector<uint16_t> values;
    };
    static constexpr uint8_t kIllegalAddress = 0x02;   // a register the exporter does not poll
    static constexpr uint8_t kTargetFailed = 0x0B;     // the relay is down, or a block too old
    static constexpr uint8_t kPathUnavailable = 0x0A;  // no relay has the unit id

    // `nowMs`: a steady clock in milliseconds (default: the system's).
    explicit ServedRegisters(const ExporterConfig& config, std::function<qint64()> nowMs = {});
    ~ServedRegisters() override;

    // A configuration reloaded: the units and bounds it gives from now on. A
    // relay that stays on its line at its address keeps the values it has.
    // The pollers' thread, as the events.
    void Apply(const ExporterConfig& config);

    // The bounds of a line's blocks when the configuration gives none: a few
    // rounds of the line (at least 5 s) for the current parameters; for the
    // slow blocks, read every BlockSchedule::kSlowPeriodMs, that period and
    // twice the current parameters' bound.
    static int DefaultCurrentMaxAgeMs(const LineConfig& line);
    static int DefaultSlowMaxAgeMs(int currentMaxAgeMs);

    // How many relays have a unit id.
    size_t Units() const { return relays_.size(); }
    // Whether a relay has this unit id. Any thread.
    bool Knows(int unit) const;
    // Registers first .. first + count - 1 of the relay with unit id `unit`
    // (kPathUnavailable when none has it). Any thread.
    Read Registers(int unit, int first, int count) const;

    const char* Name() const override { return "modbus"; }
    void OnBlockRead(const BlockRead& e) override;
    void OnRelayLook(const RelayLook& e) override;
    void OnLineState(const LineState& e) override;
    void OnLineRemoved(const LineConfig& e) override;

private:
    struct Relay;

    Relay* find(const QString& line, int address) const;
    void forgetLine(const QString& line);

    std::function<qint64()> nowMs_;
    // Guards the tables below: written by Apply, read by the server's thread.
    mutable std::shared_mutex tables_;
    std::vector<std::unique_ptr<Relay>> relays_;
    std::array<Relay*, 256> byUnit_{};
    std::map<std::pair<QString, int>, Relay*> byAddress_;   // (line, address)
};
