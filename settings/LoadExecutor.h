// A load of settings into the relay, one policy for every front end: the
// plan's writes one at a time, each confirmed before the next goes out; the
// relay's own address written last, only to an address where no device
// answers (one that refuses is there too), and confirmed at the new address
// when the echo does not come; a stop at the first write not confirmed; and
// a read-back compared with what the plan expects. The result names every
// planned write as written, refused, altered, unconfirmed or not sent.
#pragma once

#include <QObject>

#include <optional>
#include <vector>

#include "settings/LoadAsker.h"
#include "settings/SettingsPlan.h"

enum class WriteFate { Written, Refused, Altered, Unconfirmed, NotSent };

// "written", "refused", "altered", "unconfirmed", "not sent".
const char* WriteFateName(WriteFate fate);

struct SettingWriteEnd {
    PlannedWrite write;
    WriteFate fate = WriteFate::NotSent;
    LoadAnswer answer;            // the write's own answer (empty if it was never asked)
    bool confirmedByRead = false; // the address: no echo, but read at the new address as written
    bool addressTaken = false;    // the address: a device answers there already; not sent
    int takenExceptionCode = 0;   // that device refused the probe with this code (0: it answered)
};

struct SettingMismatch {
    const SettingSpec* definition = nullptr;
    uint16_t held = 0;       // what the relay holds
    uint16_t expected = 0;   // what the load meant it to hold
};

struct LoadResult {
    std::vector<SettingWriteEnd> settings;   // every planned write, in order
    bool lineLost = false;    // the line went away during the writes
    bool stopped = false;     // Stop() or Abandon() ended the writes
    int startAddress = 0;
    // The relay's old address once a change of it was confirmed (0: none):
    // a relay that takes a new address only on restart still answers there.
    int oldAddress = 0;

    // The read-back, unless the writes ended by the line's loss or a stop.
    bool readBackAsked = false;
    std::optional<RegisterValues> readBack;
    int readBackAddress = 0;     // where it was answered
    LoadAnswer readBackFailure;  // when it was not
    std::vector<SettingMismatch> mismatches;

    int Count(WriteFate fate) const;
    bool AllWritten() const { return Count(WriteFate::Written) == int(settings.size()); }
    // The first write not written, or null.
    const SettingWriteEnd* StoppedAt() const;
    // The relay was read back and holds what the plan meant it to.
    bool RelayHoldsPlan() const { return readBack.has_value() && mismatches.empty(); }
};

class LoadExecutor : public QObject {
    Q_OBJECT
public:
    LoadExecutor(LoadAsker& asker, const LoadPlan& plan, QObject* parent = nullptr);

    void Start();
    // No write goes out after the one under way, which ends as it will.
    void Stop();
    // And the one under way is given up: unconfirmed if it left the PC.
    void Abandon();

    bool Running() const { return running_; }
    bool Writing() const { return running_ && !readingBack_; }
    const LoadResult& Result() const { return result_; }

signals:
    // The write at `index` of Result().settings has ended.
    void writeEnded(int index);
    // Every write has ended; the read-back follows unless the line went or a stop came.
    void writesEnded();
    void finished();

private:
    void next();
    void writeSetting(size_t index);
    void probeAddress(size_t index);
    void writeAddress(size_t index);
    void confirmAddressByRead(size_t index);
    void settle(size_t index, const LoadAnswer& answer);
    void endWrites();
    void readBack(int address, bool atOldAddress);
    void compare();
    void finish();

    LoadAsker& asker_;
    std::vector<SettingValue> expected_;
    LoadResult result_;
    size_t next_ = 0;
    bool running_ = false;
    bool readingBack_ = false;
    bool stopAsked_ = false;
};
