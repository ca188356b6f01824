#include "app/trends/TrendPage.h"

#include <QBuffer>
#include <QChart>
#include <QDateTime>
#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QImage>
#include <QLineSeries>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <memory>

#include "app/trends/TrendChart.h"
#include "history/StartFiles.h"
#include "history/TrendHistory.h"

namespace {

constexpr qreal kHeaderPoints = 11;
constexpr qreal kTextPoints = 9;
constexpr qreal kLineSamplePoints = 24;   // the length of a legend's line
constexpr int kPictureMargin = 12;        // pixels around a picture's content
constexpr qreal kPageMarginMm = 12;
constexpr int kPdfResolution = 300;
const QSize kStartChartSize(1000, 560);

qreal Points(QPainter& painter, qreal points)
{
    return points * painter.device()->logicalDpiY() / 72.0;
}

QFont TextFont(qreal points, bool bold = false)
{
    QFont font;
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// The header's lines within `area` from its top; drawn or only measured.
// Returns the height taken.
qreal HeaderBlock(QPainter& painter, const QStringList& lines, const QRectF& area, bool draw)
{
    qreal y = area.top();
    for (qsizetype n = 0; n < lines.size(); ++n) {
        painter.setFont(TextFont(n == 0 ? kHeaderPoints : kTextPoints, n == 0));
        const QRectF box(area.left(), y, area.width(), 1e6);
        const int flags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop;
        const QRectF used = painter.boundingRect(box, flags, lines[n]);
        if (draw)
            painter.drawText(box, flags, lines[n]);
        y += used.height() + Points(painter, 2);
    }
    return y - area.top();
}

// The legend in rows within `area`'s width: each entry its line and text,
// an entry that does not fit beginning the next row. Returns the height.
qreal LegendBlock(QPainter& painter, const std::vector<LegendEntry>& legend, const QRectF& area, bool draw)
{
    if (legend.empty())
        return 0;
    painter.setFont(TextFont(kTextPoints));
    const QFontMetricsF metrics(painter.font(), painter.device());
    const qreal sample = Points(painter, kLineSamplePoints), gap = Points(painter, 4);
    const qreal spacing = Points(painter, 14), row = metrics.height() * 1.4;
    qreal x = area.left(), y = area.top();
    for (const LegendEntry& entry : legend) {
        const qreal width = sample + gap + metrics.horizontalAdvance(entry.text) + Points(painter, 2);
        if (x > area.left() && x + width > area.right()) {
            x = area.left();
            y += row;
        }
        if (draw) {
            QPen pen = entry.pen;
            pen.setCosmetic(false);
            pen.setWidthF(Points(painter, 1.2));
            painter.setPen(pen);
            painter.drawLine(QPointF(x, y + row / 2), QPointF(x + sample, y + row / 2));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(x + sample + gap, y, width - sample - gap, row), Qt::AlignLeft | Qt::AlignVCenter,
                             entry.text);
        }
        x += width + spacing;
    }
    return y + row - area.top();
}

QSize ChartSize(const TrendPageContent& content)
{
    return content.chart->scene() ? content.chart->size().toSize() : content.chartSize;
}

// The chart drawn into `target`. Its lines are drawn with pens as wide as a
// pixel of the chart, scaled with it, rather than a pixel of the device (a
// hairline on a printer).
void DrawChart(QPainter& painter, const TrendPageContent& content, const QRectF& target)
{
    QChart* chart = content.chart;
    std::unique_ptr<QGraphicsScene> own;
    QGraphicsScene* scene = chart->scene();
    if (!scene) {
        own = std::make_unique<QGraphicsScene>();
        own->addItem(chart);
        chart->resize(content.chartSize);
        scene = own.get();
    }
    std::vector<std::pair<QLineSeries*, QPen>> pens;
    for (QAbstractSeries* series : chart->series())
        if (auto* line = qobject_cast<QLineSeries*>(series)) {
            pens.emplace_back(line, line->pen());
            QPen scaled = line->pen();
            scaled.setCosmetic(false);
            scaled.setWidthF(1.2);
            line->setPen(scaled);
        }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    scene->render(&painter, target, chart->sceneBoundingRect(), Qt::KeepAspectRatio);
    painter.restore();
    for (const auto& [line, pen] : pens)
        line->setPen(pen);
    if (own)
        own->removeItem(chart);
}

}  // namespace

QString RussianMoment(qint64 ms, bool milliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(milliseconds ? QStringLiteral("dd.MM.yyyy HH:mm:ss,zzz")
                                                                     : QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

QByteArray TrendPagePng(const TrendPageContent& content)
{
    const QSize chart = ChartSize(content);
    QImage probe(1, 1, QImage::Format_ARGB32);
    qreal header = 0, legend = 0;
    {
        QPainter measure(&probe);
        const QRectF area(0, 0, chart.width(), 1e6);
        header = HeaderBlock(measure, content.header, area, false);
        legend = LegendBlock(measure, content.legend, area, false);
    }
    const int gap = kPictureMargin / 2;
    QImage image(chart.width() + 2 * kPictureMargin,
                 int(kPictureMargin + header + gap + chart.height() + gap + legend + kPictureMargin), QImage::Format_ARGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing);
        qreal y = kPictureMargin;
        y += HeaderBlock(painter, content.header, QRectF(kPictureMargin, y, chart.width(), 1e6), true) + gap;
        DrawChart(painter, content, QRectF(QPointF(kPictureMargin, y), QSizeF(chart)));
        y += chart.height() + gap;
        LegendBlock(painter, content.legend, QRectF(kPictureMargin, y, chart.width(), 1e6), true);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray TrendPagePdf(const TrendPageContent& content, const QString& title)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(kPdfResolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape,
                                     QMarginsF(kPageMarginMm, kPageMarginMm, kPageMarginMm, kPageMarginMm),
                                     QPageLayout::Millimeter));
    writer.setTitle(title);
    writer.setCreator(QStringLiteral("Защита"));
    QPainter painter(&writer);
    const QSizeF page = painter.viewport().size();
    const qreal gap = Points(painter, 6);

    // The chart as large as the page allows beside the texts, kept in
    // proportion; the texts as wide as the chart; the whole in the middle.
    const QSizeF chart = QSizeF(ChartSize(content));
    QSizeF shown = chart.scaled(page, Qt::KeepAspectRatio);
    qreal header = 0, legend = 0;
    for (int pass = 0; pass < 3; ++pass) {
        const QRectF area(0, 0, shown.width(), 1e6);
        header = HeaderBlock(painter, content.header, area, false);
        legend = LegendBlock(painter, content.legend, area, false);
        const QSizeF room(page.width(), std::max(1.0, page.height() - header - legend - 2 * gap));
        shown = chart.scaled(room, Qt::KeepAspectRatio);
    }
    const qreal height = header + gap + shown.height() + gap + legend;
    const QPointF origin((page.width() - shown.width()) / 2, std::max(0.0, (page.height() - height) / 2));
    qreal y = origin.y();
    y += HeaderBlock(painter, content.header, QRectF(origin.x(), y, shown.width(), 1e6), true) + gap;
    DrawChart(painter, content, QRectF(QPointF(origin.x(), y), shown));
    y += shown.height() + gap;
    LegendBlock(painter, content.legend, QRectF(origin.x(), y, shown.width(), 1e6), true);
    painter.end();
    return bytes;
}

QByteArray DrawStartPicture(const StartRecord& record, int ratedCentiAmps, const RelayId& relay)
{
    TrendHistory history(TrendHistory::kKeptMs, TrendHistory::kKeptMs);
    for (const BlockSample& s : record.samples)
        history.Add(s);
    // Shown before it is laid out: an axis of a chart laid out already may
    // keep its earlier number of ticks in the picture.
    auto chart = std::make_unique<TrendChart>();
    if (!record.samples.empty())
        chart->Show(history, record.samples.front().ms, record.samples.back().ms, kStartChartSize.width());
    // The relay; when and how long; the three peaks; the thermal impulses and marks.
    const QStringList lines = StartSummaryLines(record.summary, ratedCentiAmps);
    TrendPageContent content;
    content.header = QStringList{QStringLiteral("Пуск двигателя: %1").arg(relay.Text()),
                                 lines.mid(0, 2).join(QStringLiteral("; ")), lines.mid(2, 3).join(QStringLiteral("; ")),
                                 lines.mid(5).join(QStringLiteral("; "))};
    content.chart = chart.get();
    content.chartSize = kStartChartSize;
    for (int c = 0; c < kTrendChannels; ++c)
        content.legend.push_back({TrendPen(c), TrendCaption(c)});
    return TrendPagePng(content);
}
