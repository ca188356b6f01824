// "Тренды": the current parameters over time, from the trend history the
// window keeps for the relay it polls. A sliding span (1, 5, 15, 60 minutes
// or all), pause (the view stands while recording goes on), zoom with a
// rectangle or the wheel, back to live, a readout of time and values under
// the pointer, series switched on and off (their boxes are the legend);
// export of what is shown as CSV, PNG or PDF. The relay can be given a
// name here. The motor starts kept are listed, by relay; ticked ones are
// drawn over each other, aligned at their switch-on, in place of the live
// chart, and then the readout and the exports are theirs.
#pragma once

#include <QWidget>

#include <functional>
#include <memory>

#include "app/trends/StartsOverlay.h"
#include "history/StartFiles.h"

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
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
    // Asks for a file to save to (the filter names its kind), offering
    // `suggested` (the last folder, a name of the relay and the moment); a
    // file dialog unless a test answers instead. Empty: cancelled.
    std::function<QString(const QString& title, const QString& filter, const QString& suggested)> AskSavePath;
    // Asks whether starts of different relays may be drawn together; a
    // question box unless a test answers instead.
    std::function<bool(const QString& question)> AskToCompare;

    // The span shown now, in ms since the epoch.
    qint64 ShownFromMs() const { return fromMs_; }
    qint64 ShownToMs() const { return toMs_; }
    bool Paused() const;
    TrendChart& Chart() const { return *chart_; }
    // Whether ticked starts are shown in place of the live chart.
    bool ShowsStarts() const;

    // Redraws at once (the timer does it four times a second while live).
    void Refresh();
    // Shows the span from..to and pauses, as a zoom does.
    void ShowSpan(qint64 fromMs, qint64 toMs);
    void BackToLive();

    // Export of what is shown (the live chart or the ticked starts). False
    // with the reason on a failure; an earlier file at the path stays as it was.
    bool ExportCsv(const QString& path, QString* reason = nullptr) const;
    bool ExportPicture(const QString& path, QString* reason = nullptr) const;
    bool ExportPdf(const QString& path, QString* reason = nullptr) const;

    // The time and values at `ms` of the live chart, as the readout shows them.
    QString ReadoutAt(qint64 ms) const;

    // The kept starts listed again from their folder.
    void ReloadStarts();
    const std::vector<StoredStart>& Starts() const { return starts_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildControls();
    QWidget* buildSide();
    void exportAs(const QString& kind);
    QString suggestedName(const QString& extension) const;
    void startTicked(QListWidgetItem* item);
    void showTickedStarts();
    void filterStarts();
    void pointerAt(const QPointF& at);
    void viewZoomed();
    void relayShown();
    void relayNamed();
    RelayId namedRelay(const RelayId& relay) const;
    TrendPageContent shownPage() const;

    TrendRecorder& recorder_;
    TrendChart* chart_ = nullptr;
    QChart* compare_ = nullptr;   // the ticked starts; shown instead while any is ticked
    StartsOverlay overlay_;
    TrendView* view_ = nullptr;
    QComboBox* span_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* live_ = nullptr;
    QLineEdit* relayName_ = nullptr;
    QLabel* relayPlace_ = nullptr;
    QCheckBox* channels_[5] = {};
    QLabel* readout_ = nullptr;
    QComboBox* relayFilter_ = nullptr;
    QListWidget* startsList_ = nullptr;
    QLabel* startSummary_ = nullptr;
    QTimer* repaint_ = nullptr;
    std::vector<StoredStart> starts_;
    qint64 fromMs_ = 0;
    qint64 toMs_ = 0;
};
