// What polling a plant's lines tells, as typed events, and the outputs that
// take them: the metrics for Prometheus, the archive of event records, the
// log, and whatever comes next (a Modbus TCP server serving the last values
// of each block with their age, alert series). A line's poller only emits;
// it knows no output. Events are views, valid for the call: an output keeps
// what it needs by value.
#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "ExporterConfig.h"
#include "link/PollCycle.h"
#include "link/RegisterValues.h"
#include "report/TripArchive.h"

// A relay of a line, as the configuration names it.
struct RelayRef {
    QString line;
    QString relay;
    int address = 0;
};

// A block of a relay read: its registers, when (Unix time) and on the
// poller's steady clock (for an age that no clock change bends).
struct BlockRead {
    const RelayRef& relay;
    const RegisterValues& values;
    qint64 unixMs = 0;
    qint64 steadyMs = 0;
};

// A read given up (one try), with what the try brought.
struct ReadFailed {
    const RelayRef& relay;
    RegisterBlock block;
    ExchangeFailure why = ExchangeFailure::NoReply;
    int exceptionCode = 0;      // Refused
};

// The relay answers again, or has missed enough to be missing.
struct RelayLook {
    const RelayRef& relay;
    bool answers = false;
};

// One of the relay's event records read (every read of a record slot, the
// empty ones too).
struct RecordSeen {
    const RelayRef& relay;
    int slot = 0;               // 1..4
    const std::vector<uint16_t>& registers;
    qint64 unixMs = 0;
};

// A record new to the archive: a trip, named by its cause. At the first
// look at a relay the archive holds nothing of, the records it already
// held are history: kept, and no trip. A record the archive cannot write
// yet is told all the same (not written): it is held and written later.
struct RecordArchived {
    const RelayRef& relay;
    int slot = 0;
    QString cause;
    const std::vector<uint16_t>& registers;
    qint64 seenMs = 0;          // when it was first read (Unix time)
    bool history = false;
    bool written = true;
};

// At a start: the trips the archive holds of a relay (its counts by cause,
// its last few trips).
struct TripsRestored {
    const RelayRef& relay;
    const ArchivedRelay& archived;
};

// Records held because the archive could not write them (0: all written).
struct ArchiveBacklog {
    int unwritten = 0;
};

// The line opened, could not be opened (tried again after `retryMs`), or
// went away under the poller.
struct LineState {
    enum class Kind { Open, OpenFailed, Lost };
    const LineConfig& line;
    Kind kind = Kind::Open;
    QString reason;             // OpenFailed, Lost
    int retryMs = 0;            // OpenFailed, Lost
};

// What came on a line that was no answer: bytes while nothing was awaited,
// whole frames that were no sound answer.
struct LineNoise {
    const QString& line;
    uint32_t unaskedBytes = 0;
    int spoiltFrames = 0;
    // 1: another master came on the line (its values are withheld), 0: it has
    // been quiet for the session's hold time; -1: no change.
    int otherMaster = -1;
};

// A relay put into, or taken out of, a line that goes on polling (the
// configuration read again): the line's other relays go on untouched.
struct RelayChange {
    const LineConfig& line;
    const RelayConfig& relay;
};

// An output could not do its work (the archive could not be written, an
// output threw): counted by output, and logged.
struct OutputError {
    std::string output;         // the output's Name()
    QString what;
};

// An output: takes the events it cares for; the rest pass by.
class PollOutput {
public:
    virtual ~PollOutput() = default;
    // Short and stable: the label of the output's errors ("archive").
    virtual const char* Name() const = 0;

    // A line's poller was made with this configuration, or is going.
    virtual void OnLineAdded(const LineConfig&) {}
    virtual void OnLineRemoved(const LineConfig&) {}
    virtual void OnRelayAdded(const RelayChange&) {}
    virtual void OnRelayRemoved(const RelayChange&) {}
    virtual void OnLineState(const LineState&) {}
    virtual void OnLineNoise(const LineNoise&) {}
    virtual void OnBlockRead(const BlockRead&) {}
    virtual void OnReadFailed(const ReadFailed&) {}
    virtual void OnRelayLook(const RelayLook&) {}
    virtual void OnRecordSeen(const RecordSeen&) {}
    virtual void OnRecordArchived(const RecordArchived&) {}
    virtual void OnTripsRestored(const TripsRestored&) {}
    virtual void OnArchiveBacklog(const ArchiveBacklog&) {}
    virtual void OnOutputError(const OutputError&) {}
};
