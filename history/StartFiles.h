// Motor start records on disk: a folder per start under
// $XDG_DATA_HOME/zashchita/starts/, named by the moment of the switch-on,
// holding the samples (samples.csv, as the trend export writes them), the
// summary (summary.json) and a picture (start.png, drawn by the window).
// Every file is written whole or not at all.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "history/StartDetector.h"

// The folder of the starts: $XDG_DATA_HOME/zashchita/starts (or
// ~/.local/share/zashchita/starts).
QString StartsFolder();

struct StoredStart {
    QString folder;          // the start's own folder
    StartSummary summary;
    int ratedCentiAmps = 0;  // the rated current when it was kept, 0: not known
};

// The summary as JSON and back.
QByteArray StartSummaryJson(const StartSummary& summary, int ratedCentiAmps);
std::optional<StoredStart> ParseStartSummary(const QByteArray& json);

// The summary in the user's words, one line each.
QStringList StartSummaryLines(const StartSummary& summary, int ratedCentiAmps);

// Writes a record into a new folder under `startsFolder`; `picture` is the
// PNG (empty: none). On failure false with the reason, and no folder of a
// half-written record is listed (the summary goes last).
bool WriteStartRecord(const QString& startsFolder, const StartRecord& record, int ratedCentiAmps,
                      const QByteArray& picture, QString* folder, QString* reason);

// The starts kept, oldest first; a folder without a readable summary is left out.
std::vector<StoredStart> ListStarts(const QString& startsFolder);

// A kept start's samples.
std::vector<BlockSample> ReadStartSamples(const QString& folder);
