#include "app/trends/TrendWindow.h"

#include <QBoxLayout>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>

#include <algorithm>
#include <cstdlib>

#include "app/trends/TrendChart.h"
#include "app/trends/TrendSettings.h"
#include "app/trends/TrendView.h"
#include "history/ReadingsCsv.h"
#include "history/TrendRecorder.h"
#include "history/UserFile.h"

namespace {

constexpr int kRepaintMs = 250;           // while live, at the most often
constexpr int kSlowestRepaintMs = 2000;   // and at the least
constexpr qint64 kMinuteMs = 60 * 1000;
constexpr qint64 kShortestSpanMs = 2000;
constexpr int kSideWidth = 300;   // the curves and the starts beside the chart

// "Ток фазы А: 612 %" from the caption "Ток фазы А, %".
QString ValueText(int channel, int value)
{
    const QString caption = TrendCaption(channel);
    return QStringLiteral("%1: %2 %3").arg(caption.section(QStringLiteral(", "), 0, 0)).arg(value)
        .arg(caption.section(QStringLiteral(", "), 1));
}

QString SpanText(qint64 ms)
{
    const qint64 minutes = (ms + 30'000) / kMinuteMs;
    return minutes >= 60 ? QStringLiteral("%1 ч %2 мин").arg(minutes / 60).arg(minutes % 60)
                         : QStringLiteral("%1 мин %2 с").arg(ms / kMinuteMs).arg(ms % kMinuteMs / 1000);
}

// A name for a file: no separators, no characters a file system or a
// shell makes trouble of.
QString FileNamePart(QString text)
{
    static const QString kUnsafe = QStringLiteral("/\\:*?\"<>|'`$");
    for (QChar& c : text)
        if (c.isSpace() || kUnsafe.contains(c))
            c = QLatin1Char('_');
    return text;
}

}  // namespace

TrendWindow::TrendWindow(TrendRecorder& recorder, QWidget* parent)
    : QWidget(parent, Qt::Window), recorder_(recorder)
{
    setObjectName(QStringLiteral("TrendWindow"));
    NowMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    AskSavePath = [this](const QString& title, const QString& filter, const QString& suggested) {
        return QFileDialog::getSaveFileName(this, title, suggested, filter);
    };
    AskToCompare = [this](const QString& question) {
        return QMessageBox::question(this, QStringLiteral("Сравнение пусков"), question,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes;
    };
    buildControls();
    repaint_ = new QTimer(this);
    repaint_->setInterval(kRepaintMs);
    connect(repaint_, &QTimer::timeout, this, [this] {
        if (!Paused())
            Refresh();
    });
    connect(&recorder_, &TrendRecorder::startKept, this, [this] { ReloadStarts(); });
    connect(&recorder_, &TrendRecorder::relayChanged, this, [this] {
        relayShown();
        const QSignalBlocker quiet(relayFilter_);
        relayFilter_->clear();   // the starts of the relay polled now
        ReloadStarts();
    });
    relayShown();
    resize(1100, 660);
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
    relayName_ = new QLineEdit;
    relayName_->setObjectName(QStringLiteral("RelayName"));
    relayName_->setPlaceholderText(QStringLiteral("имя реле, например «Насос 3»"));
    relayName_->setToolTip(QStringLiteral("Имя реле на этом порту и адресе: в заголовках пусков и экспорта"));
    connect(relayName_, &QLineEdit::editingFinished, this, &TrendWindow::relayNamed);
    relayPlace_ = new QLabel;
    relayPlace_->setObjectName(QStringLiteral("RelayPlace"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("Интервал:")));
    top->addWidget(span_);
    top->addWidget(pause_);
    top->addWidget(live_);
    top->addSpacing(16);
    top->addWidget(new QLabel(QStringLiteral("Реле:")));
    top->addWidget(relayName_, 1);
    top->addWidget(relayPlace_);

    readout_ = new QLabel;
    readout_->setObjectName(QStringLiteral("Readout"));
    readout_->setWordWrap(true);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(readout_, 1);
    for (const QString& kind : {QStringLiteral("CSV"), QStringLiteral("PNG"), QStringLiteral("PDF")}) {
        auto* button = new QPushButton(QStringLiteral("Экспорт %1…").arg(kind));
        button->setObjectName(QStringLiteral("Export%1").arg(kind));
        connect(button, &QPushButton::clicked, this, [this, kind] { exportAs(kind); });
        bottom->addWidget(button);
    }

    auto* split = new QSplitter;
    split->addWidget(view_);
    split->addWidget(buildSide());
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
    layout->addLayout(bottom);
}

// Beside the chart: the curves (the live chart's legend, each switched on
// and off by its box) and the starts kept, by relay.
QWidget* TrendWindow::buildSide()
{
    auto* side = new QWidget;
    side->setMaximumWidth(kSideWidth);
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Кривые:")));
    for (int c = 0; c < kTrendChannels; ++c) {
        channels_[c] = new QCheckBox(TrendCaption(c));
        channels_[c]->setObjectName(QStringLiteral("Channel%1").arg(c));
        channels_[c]->setIcon(LineIcon(TrendPen(c)));
        channels_[c]->setIconSize(QSize(32, 12));
        channels_[c]->setChecked(true);
        connect(channels_[c], &QCheckBox::toggled, this, [this, c](bool on) {
            chart_->SetChannelShown(c, on);
            Refresh();
        });
        layout->addWidget(channels_[c]);
    }
    layout->addSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Пуски (отметьте для сравнения):")));
    relayFilter_ = new QComboBox;
    relayFilter_->setObjectName(QStringLiteral("RelayFilter"));
    connect(relayFilter_, &QComboBox::currentIndexChanged, this, &TrendWindow::filterStarts);
    layout->addWidget(relayFilter_);
    startsList_ = new QListWidget;
    startsList_->setObjectName(QStringLiteral("StartsList"));
    startsList_->setIconSize(QSize(32, 12));
    startsList_->setWordWrap(true);
    startsList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(startsList_, &QListWidget::itemChanged, this, &TrendWindow::startTicked);
    connect(startsList_, &QListWidget::currentRowChanged, this, [this](int row) {
        startSummary_->setText(row >= 0 && row < int(starts_.size())
                                   ? StartSummaryLines(starts_[size_t(row)].summary, starts_[size_t(row)].ratedCentiAmps)
                                         .join(QLatin1Char('\n'))
                                   : QString());
    });
    layout->addWidget(startsList_, 2);
    startSummary_ = new QLabel;
    startSummary_->setObjectName(QStringLiteral("StartSummary"));
    startSummary_->setWordWrap(true);
    startSummary_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(startSummary_, 1);
    return side;
}

bool TrendWindow::Paused() const
{
    return pause_->isChecked();
}

bool TrendWindow::ShowsStarts() const
{
    return view_->chart() != chart_;
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
    if (ShowsStarts())
        return;
    ShowSpan(chart_->AxisFromMs(), chart_->AxisToMs());
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
        return RussianMoment(ms, true);
    QStringList parts{RussianMoment(found.ms, true)};
    for (int c = 0; c < kTrendChannels; ++c)
        if (chart_->ChannelShown(c))
            parts << ValueText(c, found.At(TrendRegister(c)));
    return parts.join(QStringLiteral("   "));
}

void TrendWindow::pointerAt(const QPointF& at)
{
    readout_->setText(ShowsStarts() ? overlay_.ReadoutAt(at.x()) : ReadoutAt(qint64(at.x())));
}

// ---- the relay ---------------------------------------------------------------

RelayId TrendWindow::namedRelay(const RelayId& relay) const
{
    RelayId named = relay;
    const QString name = RelayName(relay);
    if (!name.isEmpty())
        named.name = name;
    return named;
}

void TrendWindow::relayShown()
{
    const RelayId relay = namedRelay(recorder_.Relay());
    relayName_->setEnabled(relay.Known());
    relayName_->setText(relay.name);
    relayPlace_->setText(relay.Known() ? QStringLiteral("порт %1, адрес %2").arg(relay.port).arg(relay.address)
                                       : QStringLiteral("не выбрано: откройте порт"));
    setWindowTitle(QStringLiteral("Тренды — %1").arg(relay.Text()));
}

void TrendWindow::relayNamed()
{
    RelayId relay = recorder_.Relay();
    if (!relay.Known() || RelayName(relay) == relayName_->text().trimmed())
        return;
    SetRelayName(relay, relayName_->text());
    relay.name = RelayName(relay);
    recorder_.SetRelay(relay);
    relayShown();
    ReloadStarts();
}

// ---- exports -------------------------------------------------------------------

TrendPageContent TrendWindow::shownPage() const
{
    TrendPageContent page;
    page.chart = view_->chart();
    if (ShowsStarts()) {
        page.header = overlay_.Header(NowMs());
        page.legend = overlay_.Legend();
        return page;
    }
    page.header = QStringList{
        QStringLiteral("Тренды: %1").arg(namedRelay(recorder_.Relay()).Text()),
        QStringLiteral("Интервал: %1 — %2 (%3)").arg(RussianMoment(fromMs_), RussianMoment(toMs_), SpanText(toMs_ - fromMs_)),
        QStringLiteral("Сформировано: %1").arg(RussianMoment(NowMs()))};
    for (int c = 0; c < kTrendChannels; ++c)
        if (chart_->ChannelShown(c))
            page.legend.push_back({TrendPen(c), TrendCaption(c)});
    return page;
}

bool TrendWindow::ExportCsv(const QString& path, QString* reason) const
{
    QByteArray bytes;
    if (ShowsStarts()) {
        bytes = overlay_.Csv(CsvStyle::ForUser());
    } else {
        std::vector<BlockSample> samples;
        recorder_.History().ForEachSample(fromMs_, toMs_, [&](const BlockSample& s) { samples.push_back(s); });
        bytes = ReadingsCsv(samples, CsvStyle::ForUser());
    }
    QString why;
    const bool written = WriteUserFile(path, bytes, why);
    if (!written && reason)
        *reason = why;
    return written;
}

bool TrendWindow::ExportPicture(const QString& path, QString* reason) const
{
    QString why;
    const bool written = WriteUserFile(path, TrendPagePng(shownPage()), why);
    if (!written && reason)
        *reason = why;
    return written;
}

bool TrendWindow::ExportPdf(const QString& path, QString* reason) const
{
    const TrendPageContent page = shownPage();
    QString why;
    const bool written = WriteUserFile(path, TrendPagePdf(page, page.header.value(0)), why);
    if (!written && reason)
        *reason = why;
    return written;
}

// "тренды_Насос_3_2025-12-08_11-41.csv": what, which relay, when.
QString TrendWindow::suggestedName(const QString& extension) const
{
    const RelayId relay = namedRelay(recorder_.Relay());
    const QString who = !relay.name.isEmpty() ? relay.name
        : relay.Known()                        ? QStringLiteral("адрес_%1").arg(relay.address)
                                               : QString();
    const QString what = ShowsStarts() ? QStringLiteral("пуски") : QStringLiteral("тренды");
    const QString when = QDateTime::fromMSecsSinceEpoch(NowMs()).toString(QStringLiteral("yyyy-MM-dd_HH-mm"));
    return FileNamePart(QStringList{what, who, when}.join(QLatin1Char('_')).replace(QStringLiteral("__"), QStringLiteral("_")))
        + QLatin1Char('.') + extension;
}

void TrendWindow::exportAs(const QString& kind)
{
    const QString extension = kind.toLower();
    const QString path = AskSavePath(QStringLiteral("Экспорт графика (%1)").arg(kind),
                                     QStringLiteral("%1 (*.%2)").arg(kind, extension),
                                     LastExportFolder() + QLatin1Char('/') + suggestedName(extension));
    if (path.isEmpty())
        return;
    QString reason;
    const bool written = kind == QLatin1String("CSV") ? ExportCsv(path, &reason)
        : kind == QLatin1String("PNG")                ? ExportPicture(path, &reason)
                                                      : ExportPdf(path, &reason);
    if (written)
        SetLastExportFolder(QFileInfo(path).absolutePath());
    readout_->setText(written ? QStringLiteral("Сохранено: %1").arg(path)
                              : QStringLiteral("Не удалось сохранить %1: %2").arg(path, reason));
}

