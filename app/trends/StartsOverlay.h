// Kept motor starts drawn over each other: for each, the highest of its three
// phase currents (%) against the seconds from its switch-on. What the trend
// window shows, reads out and exports while any start is ticked.
#pragma once

#include <QList>
#include <QPen>
#include <QPointF>
#include <QString>

#include <vector>

#include "app/trends/TrendPage.h"
#include "history/ReadingsCsv.h"
#include "history/StartFiles.h"

class QChart;

struct OverlayLine {
    QString name;            // the start's moment and its relay, as the list shows it
    StoredStart start;
    QPen pen;
    QList<QPointF> points;   // seconds from the switch-on, %
};

class StartsOverlay {
public:
    // The starts' lines, their samples read from their folders.
    void SetStarts(const std::vector<std::pair<StoredStart, QString>>& startsAndNames);
    const std::vector<OverlayLine>& Lines() const { return lines_; }
    bool Empty() const { return lines_.empty(); }

    // A chart of the lines, with its axes in seconds and %, numbers the
    // Russian way; the caller owns it.
    QChart* MakeChart() const;
    // The values of each line nearest `seconds` from the switch-on.
    QString ReadoutAt(double seconds) const;
    // The lines as CSV: a row per point, in the user's style.
    QByteArray Csv(const CsvStyle& style) const;
    // The page's header and legend.
    QStringList Header(qint64 madeMs) const;
    std::vector<LegendEntry> Legend() const;

private:
    std::vector<OverlayLine> lines_;
    double first_ = 0, last_ = 1;   // the seconds drawn
};
