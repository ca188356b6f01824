#include "app/trends/TrendWindow.h"

#include <QApplication>
#include <QBuffer>
#include <QBoxLayout>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QGraphicsScene>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

#include "app/trends/TrendChart.h"
#include "app/trends/TrendRecorder.h"
#include "history/ReadingsCsv.h"
#include "settings/AtomicFile.h"

namespace {

constexpr int kRepaintMs = 250;           // while live, at the most often
constexpr int kSlowestRepaintMs = 2000;   // and at the least
constexpr qint64 kMinuteMs = 60 * 1000;
constexpr qint64 kShortestSpanMs = 2000;
constexpr double kWheelZoom = 1.25;
constexpr int kPictureWidth = 1000;
constexpr int kPictureHeight = 620;
constexpr int kSideWidth = 280;   // the list of starts beside the chart

QString TimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss.zzz"));
}

// The chart drawn into an image of the given size, without a window.
QImage RenderChart(QChart* chart, const QSize& size)
{
    QGraphicsScene scene;
    scene.addItem(chart);
    chart->resize(size);
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, QRectF(QPointF(0, 0), size), QRectF(QPointF(0, 0), size));
    painter.end();
    scene.removeItem(chart);
    return image;
}

}  // namespace

// The chart's view: a rectangle zooms in (the right button back out), the
// wheel zooms about the pointer, and the pointer's place is reported for
// the readout.
class TrendView : public QChartView {
    Q_OBJECT
public:
    using QChartView::QChartView;

signals:
    void zoomed();
    void pointerMoved(const QPointF& value);

protected:
    void wheelEvent(QWheelEvent* event) override
    {
        const double factor = event->angleDelta().y() > 0 ? kWheelZoom : 1.0 / kWheelZoom;
        chart()->zoom(factor);
        emit zoomed();
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QChartView::mouseReleaseEvent(event);
        emit zoomed();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        QChartView::mouseMoveEvent(event);
        emit pointerMoved(chart()->mapToValue(event->position()));
    }
};

TrendWindow::TrendWindow(TrendRecorder& recorder, QWidget* parent)
    : QWidget(parent, Qt::Window), recorder_(recorder)
{
    setObjectName(QStringLiteral("TrendWindow"));
    setWindowTitle(QStringLiteral("Тренды"));
    NowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    AskSavePath = [this](const QString& title, const QString& filter) {
        return QFileDialog::getSaveFileName(this, title, QString(), filter);
    };
    buildControls();
    repaint_ = new QTimer(this);
    repaint_->setInterval(kRepaintMs);
    connect(repaint_, &QTimer::timeout, this, [this] {
        if (!Paused())
            Refresh();
    });
    connect(&recorder_, &TrendRecorder::startKept, this, [this] { ReloadStarts(); });
    resize(1000, 640);
}

TrendWindow::~TrendWindow()
{
    // The chart not shown is not the view's to delete.
    if (view_->chart() == compare_)
        view_->setChart(chart_);
    delete compare_;
}

void TrendWindow::buildControls()
{
    chart_ = new TrendChart;
    view_ = new TrendView(chart_);
    view_->setObjectName(QStringLiteral("TrendView"));
    view_->setRubberBand(QChartView::RectangleRubberBand);
    view_->setRenderHint(QPainter::Antialiasing, false);
    view_->setMouseTracking(true);
    connect(view_, &TrendView::zoomed, this, &TrendWindow::viewZoomed);
    connect(view_, &TrendView::pointerMoved, this, &TrendWindow::pointerAt);

    span_ = new QComboBox;
    span_->setObjectName(QStringLiteral("SpanBox"));
    for (int minutes : kSpanMinutes)
        span_->addItem(minutes ? QStringLiteral("%1 мин").arg(minutes) : QStringLiteral("Всё"));
    span_->setCurrentIndex(1);
    connect(span_, &QComboBox::currentIndexChanged, this, [this] { BackToLive(); });
    pause_ = new QPushButton(QStringLiteral("Пауза"));
    pause_->setObjectName(QStringLiteral("PauseButton"));
    pause_->setCheckable(true);
    connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        if (!on)
            BackToLive();
    });
    live_ = new QPushButton(QStringLiteral("В реальном времени"));
    live_->setObjectName(QStringLiteral("LiveButton"));
    connect(live_, &QPushButton::clicked, this, &TrendWindow::BackToLive);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Интервал:")));
    top->addWidget(span_);
    top->addWidget(pause_);
    top->addWidget(live_);
    top->addStretch();
    auto* series = new QHBoxLayout;
    for (int c = 0; c < kTrendChannels; ++c) {
        channels_[c] = new QCheckBox(TrendCaption(c));
        channels_[c]->setObjectName(QStringLiteral("Channel%1").arg(c));
        channels_[c]->setChecked(true);
        connect(channels_[c], &QCheckBox::toggled, this, [this, c](bool on) {
            chart_->SetChannelShown(c, on);
            Refresh();
        });
        series->addWidget(channels_[c]);
    }
    series->addStretch();

    readout_ = new QLabel;
    readout_->setObjectName(QStringLiteral("Readout"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(readout_, 1);
    for (const QString& kind : {QStringLiteral("CSV"), QStringLiteral("PNG"), QStringLiteral("PDF")}) {
        auto* button = new QPushButton(QStringLiteral("Экспорт %1…").arg(kind));
        button->setObjectName(QStringLiteral("Export%1").arg(kind));
        connect(button, &QPushButton::clicked, this, [this, kind] { exportAs(kind); });
        bottom->addWidget(button);
    }

    startsList_ = new QListWidget;
    startsList_->setObjectName(QStringLiteral("StartsList"));
    connect(startsList_, &QListWidget::itemChanged, this, &TrendWindow::startsTicked);
    connect(startsList_, &QListWidget::currentRowChanged, this, [this](int row) {
        startSummary_->setText(row >= 0 && row < int(starts_.size())
                                   ? StartSummaryLines(starts_[size_t(row)].summary, starts_[size_t(row)].ratedCentiAmps)
                                         .join(QLatin1Char('\n'))
                                   : QString());
    });
    startSummary_ = new QLabel;
    startSummary_->setObjectName(QStringLiteral("StartSummary"));
    startSummary_->setWordWrap(true);
    startSummary_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto* side = new QWidget;
    side->setMaximumWidth(kSideWidth);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(new QLabel(QStringLiteral("Пуски (отметьте для сравнения):")));
    sideLayout->addWidget(startsList_, 2);
    sideLayout->addWidget(startSummary_, 1);

    auto* split = new QSplitter;
    split->addWidget(view_);
    split->addWidget(side);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(series);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);
}

bool TrendWindow::Paused() const
{
    return pause_->isChecked();
}

void TrendWindow::showEvent(QShowEvent* event)
{
    ReloadStarts();
    Refresh();
    repaint_->start();
    QWidget::showEvent(event);
}

void TrendWindow::hideEvent(QHideEvent* event)
{
    repaint_->stop();
    QWidget::hideEvent(event);
}

void TrendWindow::Refresh()
{
    const TrendHistory& history = recorder_.History();
    if (!Paused()) {
        const int minutes = kSpanMinutes[std::clamp(span_->currentIndex(), 0, 4)];
        toMs_ = NowMs();
        fromMs_ = minutes ? toMs_ - minutes * kMinuteMs : (history.Empty() ? toMs_ - kMinuteMs : history.FirstMs());
    }
    // A column of two pixels holds a lowest and a highest point: Qt Charts
    // strokes every line's outline for the pointer on each change, at a
    // cost that grows with the points.
    const int columns = std::max(100, int(chart_->plotArea().width()) / 2);
    chart_->Show(history, fromMs_, toMs_, columns);
    // Drawn again when the span has moved by about a column.
    repaint_->setInterval(int(std::clamp<qint64>((toMs_ - fromMs_) / columns, kRepaintMs, kSlowestRepaintMs)));
}

void TrendWindow::ShowSpan(qint64 fromMs, qint64 toMs)
{
    if (toMs - fromMs < kShortestSpanMs)
        toMs = fromMs + kShortestSpanMs;
    fromMs_ = fromMs;
    toMs_ = toMs;
    const QSignalBlocker quiet(pause_);
    pause_->setChecked(true);
    Refresh();
}

void TrendWindow::BackToLive()
{
    const QSignalBlocker quiet(pause_);
    pause_->setChecked(false);
    chart_->zoomReset();
    Refresh();
}

// A zoom changed the time axis: the history is drawn again at the new
// span's resolution, and the view stands.
void TrendWindow::viewZoomed()
{
    if (view_->chart() != chart_)
        return;
    ShowSpan(chart_->TimeAxis()->min().toMSecsSinceEpoch(), chart_->TimeAxis()->max().toMSecsSinceEpoch());
}

QString TrendWindow::ReadoutAt(qint64 ms) const
{
    // The sample nearest the pointer within a second.
    const BlockSample* nearest = nullptr;
    BlockSample found;
    recorder_.History().ForEachSample(ms - 1000, ms + 1000, [&](const BlockSample& s) {
        if (!nearest || std::llabs(s.ms - ms) < std::llabs(found.ms - ms)) {
            found = s;
            nearest = &found;
        }
    });
    if (!nearest)
        return TimeText(ms);
    QStringList parts{TimeText(found.ms)};
    for (int c = 0; c < kTrendChannels; ++c)
        if (chart_->ChannelShown(c))
            parts << QStringLiteral("%1: %2").arg(TrendCaption(c)).arg(found.At(TrendRegister(c)));
    return parts.join(QStringLiteral("   "));
}

void TrendWindow::pointerAt(const QPointF& at)
{
    if (view_->chart() == chart_)
        readout_->setText(ReadoutAt(qint64(at.x())));
}

bool TrendWindow::ExportCsv(const QString& path, QString* reason) const
{
    std::vector<BlockSample> samples;
    recorder_.History().ForEachSample(fromMs_, toMs_, [&](const BlockSample& s) { samples.push_back(s); });
    QString why;
    const bool written = WriteFileAtomically(path, ReadingsCsv(samples), why);
    if (!written && reason)
        *reason = why;
    return written;
}

bool TrendWindow::ExportPicture(const QString& path, QString* reason) const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    view_->grab().save(&buffer, "PNG");
    QString why;
    const bool written = WriteFileAtomically(path, bytes, why);
    if (!written && reason)
        *reason = why;
    return written;
}

bool TrendWindow::ExportPdf(const QString& path, QString* reason) const
{
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        pdf.setPageOrientation(QPageLayout::Landscape);
        pdf.setTitle(windowTitle());
        QPainter painter(&pdf);
        const QPixmap picture = view_->grab();
        const QRect page = painter.viewport();
        const QSize fitted = picture.size().scaled(page.size(), Qt::KeepAspectRatio);
        painter.drawPixmap(QRect(page.topLeft(), fitted), picture);
    }
    QString why;
    const bool written = WriteFileAtomically(path, bytes, why);
    if (!written && reason)
        *reason = why;
    return written;
}

void TrendWindow::exportAs(const QString& kind)
{
    const QString path = AskSavePath(QStringLiteral("Экспорт графика (%1)").arg(kind),
                                     QStringLiteral("%1 (*.%2)").arg(kind, kind.toLower()));
    if (path.isEmpty())
        return;
    QString reason;
    const bool written = kind == QLatin1String("CSV") ? ExportCsv(path, &reason)
        : kind == QLatin1String("PNG")                ? ExportPicture(path, &reason)
                                                      : ExportPdf(path, &reason);
    readout_->setText(written ? QStringLiteral("Сохранено: %1").arg(path)
                              : QStringLiteral("Не удалось сохранить %1: %2").arg(path, reason));
}

void TrendWindow::ReloadStarts()
{
    starts_ = ListStarts(recorder_.Folder());
    const QSignalBlocker quiet(startsList_);
    startsList_->clear();
    for (const StoredStart& s : starts_) {
        auto* item = new QListWidgetItem(
            QDateTime::fromMSecsSinceEpoch(s.summary.switchOnMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
            startsList_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

// The ticked starts over each other: the highest phase current of each,
// seconds from its switch-on.
void TrendWindow::startsTicked()
{
    auto* compare = new QChart;
    compare->setObjectName(QStringLiteral("StartsChart"));
    compare->setTitle(QStringLiteral("Пуски: наибольший ток фаз, % (от включения двигателя)"));
    auto* seconds = new QValueAxis;
    seconds->setTitleText(QStringLiteral("с от включения"));
    auto* percent = new QValueAxis;
    percent->setTitleText(QStringLiteral("%"));
    compare->addAxis(seconds, Qt::AlignBottom);
    compare->addAxis(percent, Qt::AlignLeft);
    double low = 0, high = 1, top = 120;
    int ticked = 0;
    for (int row = 0; row < startsList_->count(); ++row) {
        if (startsList_->item(row)->checkState() != Qt::Checked)
            continue;
        ++ticked;
        const StoredStart& start = starts_[size_t(row)];
        auto* series = new QLineSeries;
        series->setName(startsList_->item(row)->text());
        for (const BlockSample& s : ReadStartSamples(start.folder)) {
            const double at = double(s.ms - start.summary.switchOnMs) / 1000.0;
            const double value = std::max({s.At(50), s.At(51), s.At(52)});
            series->append(at, value);
            low = std::min(low, at);
            high = std::max(high, at);
            top = std::max(top, value * 1.1);
        }
        compare->addSeries(series);
        series->attachAxis(seconds);
        series->attachAxis(percent);
    }
    seconds->setRange(low, high);
    percent->setRange(0, top);
    seconds->applyNiceNumbers();
    percent->applyNiceNumbers();
    QChart* old = compare_;
    compare_ = compare;
    view_->setChart(ticked ? static_cast<QChart*>(compare_) : chart_);
    delete old;
}

QByteArray DrawStartPicture(const StartRecord& record, int ratedCentiAmps)
{
    TrendHistory history(TrendHistory::kKeptMs, TrendHistory::kKeptMs);
    for (const BlockSample& s : record.samples)
        history.Add(s);
    auto* chart = new TrendChart;
    const QStringList lines = StartSummaryLines(record.summary, ratedCentiAmps);
    // When and how long; the three peaks; the thermal impulses and marks.
    chart->setTitle(QStringList{lines.mid(0, 2).join(QStringLiteral("; ")), lines.mid(2, 3).join(QStringLiteral("; ")),
                                lines.mid(5).join(QStringLiteral("; "))}
                        .join(QStringLiteral("<br>")));
    chart->TimeAxis()->setFormat(QStringLiteral("HH:mm:ss.zzz"));
    if (!record.samples.empty())
        chart->Show(history, record.samples.front().ms, record.samples.back().ms, kPictureWidth);
    const QImage image = RenderChart(chart, QSize(kPictureWidth, kPictureHeight));
    delete chart;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

#include "TrendWindow.moc"
