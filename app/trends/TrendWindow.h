// "Тренды": the current parameters over time, from the trend history the
// window keeps. A sliding span (1, 5, 15, 60 minutes or all), pause (the view
// stands while recording goes on), zoom with a rectangle or the wheel, back
// to live, a readout of time and values under the pointer, series switched
// on and off; export of the shown span as CSV, and of the chart as PNG or PDF.
// The motor starts kept are listed; ticked ones are drawn over each other,
// aligned at their switch-on.
#pragma once

#include <QWidget>

#include <functional>

#include "history/StartFiles.h"

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;
class TrendChart;
class TrendRecorder;
class TrendView;

class TrendWindow : public QWidget {
    Q_OBJECT
public:
    // Spans of the span box, in its order; 0: all of the history.
    static constexpr int kSpanMinutes[] = {1, 5, 15, 60, 0};

    TrendWindow(TrendRecorder& recorder, QWidget* parent = nullptr);
    ~TrendWindow() override;

    // The PC's clock (ms since the epoch); the window's own unless set.
    std::function<qint64()> NowMs;
    // Asks for a file to save to (the filter names its kind); a file dialog
    // unless a test answers instead. Empty: cancelled.
    std::function<QString(const QString& title, const QString& filter)> AskSavePath;

    // The span shown now, in ms since the epoch.
    qint64 ShownFromMs() const { return fromMs_; }
    qint64 ShownToMs() const { return toMs_; }
    bool Paused() const;
    TrendChart& Chart() const { return *chart_; }

    // Redraws at once (the timer does it four times a second while live).
    void Refresh();
    // Shows the span from..to and pauses, as a zoom does.
    void ShowSpan(qint64 fromMs, qint64 toMs);
    void BackToLive();

    // Export of what is shown. False with the reason on a failure; an
    // earlier file at the path stays as it was.
    bool ExportCsv(const QString& path, QString* reason = nullptr) const;
    bool ExportPicture(const QString& path, QString* reason = nullptr) const;
    bool ExportPdf(const QString& path, QString* reason = nullptr) const;

    // The time and values under the pointer at `ms`, as the readout shows.
    QString ReadoutAt(qint64 ms) const;

    // The kept starts listed again from their folder.
    void ReloadStarts();
    const std::vector<StoredStart>& Starts() const { return starts_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildControls();
    void exportAs(const QString& kind);
    void startsTicked();
    void pointerAt(const QPointF& at);
    void viewZoomed();

    TrendRecorder& recorder_;
    TrendChart* chart_ = nullptr;
    QChart* compare_ = nullptr;   // the ticked starts; shown instead while any is ticked
    TrendView* view_ = nullptr;
    QComboBox* span_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* live_ = nullptr;
    QCheckBox* channels_[5] = {};
    QLabel* readout_ = nullptr;
    QListWidget* startsList_ = nullptr;
    QLabel* startSummary_ = nullptr;
    QTimer* repaint_ = nullptr;
    std::vector<StoredStart> starts_;
    qint64 fromMs_ = 0;
    qint64 toMs_ = 0;
};

// A start record's picture (PNG): its lines and its summary.
QByteArray DrawStartPicture(const StartRecord& record, int ratedCentiAmps);
