// A chart as a page to keep or print: a header (what, which relay, the
// span, when it was made), the chart, and a legend drawn whole below it,
// wrapped into as many rows as it needs. As PNG, or as a PDF page of A4
// drawn as vectors, its text as text (a reader can search and copy it),
// centred on the page.
#pragma once

#include <QByteArray>
#include <QPen>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

#include "history/RelayId.h"
#include "history/StartDetector.h"

class QChart;

struct LegendEntry {
    QPen pen;
    QString text;
};

struct TrendPageContent {
    QStringList header;                 // the first line in bold
    QChart* chart = nullptr;            // drawn at its size now (or `chartSize` when in no view)
    QSize chartSize;
    std::vector<LegendEntry> legend;
};

QByteArray TrendPagePng(const TrendPageContent& content);
QByteArray TrendPagePdf(const TrendPageContent& content, const QString& title);

// A start record's picture (PNG): the relay and the summary above its lines.
QByteArray DrawStartPicture(const StartRecord& record, int ratedCentiAmps, const RelayId& relay);

// A date and time the Russian way: "08.12.2025 11:41:02" (with ",123" for
// the milliseconds when asked).
QString RussianMoment(qint64 ms, bool milliseconds = false);
