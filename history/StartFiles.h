// Motor start records on disk: a folder per start under
// $XDG_DATA_HOME/zashchita/starts/, named by the moment of the switch-on,
// holding the samples (samples.csv, as `zashchita-cli monitor --format csv`
// writes them), the summary (summary.json, with the relay it is of) and a
// picture (start.png, drawn by the window). Every file is written whole or
// not at all, with the permissions the umask gives.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "history/RelayId.h"
#include "history/StartDetector.h"

// The folder of the starts: $XDG_DATA_HOME/zashchita/starts (or
// ~/.local/share/zashchita/starts).
QString StartsFolder();

struct StoredStart {
    QString folder;          // the start's own folder
    StartSummary summary;
    int ratedCentiAmps = 0;  // the rated current when it was kept, 0: not known
    RelayId relay;           // not known for a start kept before relays were named
};

// The summary as JSON and back: the relay as "port", "address" and
// "relayName" beside the fields that were there before them.
QByteArray StartSummaryJson(const StartSummary& summary, int ratedCentiAmps, const RelayId& relay = {});
std::optional<StoredStart> ParseStartSummary(const QByteArray& json);

// The summary in the user's words, one line each.
QStringList StartSummaryLines(const StartSummary& summary, int ratedCentiAmps);

// Writes a record into a new folder under `startsFolder`; `picture` is the
// PNG (empty: none). On failure false with the reason, and no folder of a
// half-written record is listed (the summary goes last).
bool WriteStartRecord(const QString& startsFolder, const StartRecord& record, int ratedCentiAmps,
                      const RelayId& relay, const QByteArray& picture, QString* folder, QString* reason);

// The starts kept, oldest first; a folder without a readable summary is left out.
std::vector<StoredStart> ListStarts(const QString& startsFolder);

// A kept start's samples.
std::vector<BlockSample> ReadStartSamples(const QString& folder);
