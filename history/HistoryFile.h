// The trend history of one relay on disk, so that it outlives the window:
// $XDG_DATA_HOME/zashchita/history/, a file per relay (port and address),
// beside the starts.
//
// The file is a copy of the history in memory followed by the samples
// polled since, appended a few seconds at a time: a header that names the
// relay, each second's summary, each sample at full rate, every record with
// its own check sum. Appending costs a write of about 70 bytes a sample; the
// whole file is written anew (as settings/AtomicFile does: the earlier file
// stays whole until the new one is in place) once as many samples have been
// appended as it held, so it never grows past about twice what the history
// keeps in memory (24 hours, see TrendHistory.h). That copy is made in memory
// at once, and written and synced on a thread of its own (10 MB for a day:
// half a second on a busy disk, which the window's polling should not wait
// for); samples polled meanwhile are appended once it is in place. Writing only whole copies
// would mean 10 MB every few minutes for a day's history; appending only
// would mean a file that grows without end, or a day of samples to read at
// start-up.
//
// Read back, the file must name this relay, and each record must be whole
// and in order. A file of another relay, or a damaged one, is renamed aside,
// never deleted or loaded; what of a damaged file came before the damage is
// kept. A record left half-written at the end by a crash is dropped quietly.
#pragma once

#include <QByteArray>
#include <QString>

#include <future>
#include <optional>

#include "history/RelayId.h"
#include "history/TrendHistory.h"
#include "settings/AtomicFile.h"

class HistoryFile {
public:
    // Larger files are not read (a day at twelve samples a second takes 11 MB,
    // and twice that just before it is written anew).
    static constexpr qint64 kLargestFile = 32LL << 20;

    // $XDG_DATA_HOME/zashchita/history (or ~/.local/share/zashchita/history).
    static QString DefaultFolder();
    // The file of a relay's history in `folder`, named after its port and
    // address; different relays never share one.
    static QString PathFor(const QString& folder, const RelayId& relay);

    HistoryFile(const QString& path, const RelayId& relay);
    // Waits for a whole copy being written.
    ~HistoryFile();
    HistoryFile(const HistoryFile&) = delete;
    HistoryFile& operator=(const HistoryFile&) = delete;

    enum class Outcome { Missing, Loaded, SetAside };
    struct LoadResult {
        Outcome outcome = Outcome::Missing;
        QString message;   // for SetAside, in the user's words: what was wrong, where the file went
    };
    // Reads the file into `history`, emptied first. Samples later than
    // `nowMs` by more than a minute (a clock that was wrong then) are left
    // out, as time in the history never runs back.
    LoadResult Load(TrendHistory& history, qint64 nowMs);

    // A sample just added to the history, as the history keeps it; written
    // by the next Flush.
    void Append(const BlockSample& sample);
    bool Pending() const { return !pending_.isEmpty() || copy_.valid(); }
    // Writes what waits: appended to the file, or the whole history anew.
    // False with the reason when the disk refused (a whole copy's failure is
    // told by the Flush after it); the file on disk is then the earlier one,
    // whole, and the next Flush writes it anew. `waitForCopy`: a whole copy
    // on its way is waited for, and what came since is written after it.
    bool Flush(const TrendHistory& history, QString* reason, bool waitForCopy = false);
    // Waits until a whole copy being written is in place (or failed).
    void Settle();

    const QString& Path() const { return path_; }

private:
    bool rewrite(const TrendHistory& history, QString* reason);
    bool append(QString* reason);
    // Whether a whole copy is still being written; once it is done, what it
    // came to (false with the reason on a failure).
    bool copyWritten(QString* reason);
    LoadResult setAside(const QString& suffix, const QString& why);

    QString path_;
    RelayId relay_;
    QByteArray pending_;
    qint64 pendingRecords_ = 0;
    qint64 writtenRecords_ = 0;    // in the last whole copy
    qint64 appendedRecords_ = 0;   // since then
    bool rewriteDue_ = true;       // no file of ours yet, or its tail is to be dropped
    bool untouchable_ = false;     // a file that could not be set aside is left alone
    std::future<std::optional<AtomicWriteFailure>> copy_;   // a whole copy being written
    qint64 copyRecords_ = 0;
};
