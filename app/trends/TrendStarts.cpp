// The trend window's list of kept starts: by relay, ticked ones drawn over
// each other in place of the live chart.
#include <QCheckBox>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>

#include "app/trends/TrendChart.h"
#include "app/trends/TrendView.h"
#include "app/trends/TrendWindow.h"
#include "history/TrendRecorder.h"

namespace {

const QString kAllRelays = QStringLiteral("*");

// A relay as the starts' filter tells them apart.
QString RelayKey(const RelayId& relay)
{
    return relay.Known() ? QStringLiteral("%1#%2").arg(relay.port).arg(relay.address) : QStringLiteral("-");
}

}  // namespace

void TrendWindow::ReloadStarts()
{
    QStringList ticked;
    for (int row = 0; row < startsList_->count() && row < int(starts_.size()); ++row)
        if (startsList_->item(row)->checkState() == Qt::Checked)
            ticked << starts_[size_t(row)].folder;
    starts_ = ListStarts(recorder_.Folder());
    for (StoredStart& s : starts_)
        s.relay = namedRelay(s.relay);
    const QString chosen = relayFilter_->count() > 0 ? relayFilter_->currentData().toString()
                                                     : RelayKey(recorder_.Relay());
    {
        const QSignalBlocker quiet(relayFilter_);
        relayFilter_->clear();
        relayFilter_->addItem(QStringLiteral("Все реле"), kAllRelays);
        for (const StoredStart& s : starts_)
            if (relayFilter_->findData(RelayKey(s.relay)) < 0)
                relayFilter_->addItem(s.relay.Text(), RelayKey(s.relay));
        // The relay polled now, or what was chosen before.
        relayFilter_->setCurrentIndex(std::max(0, relayFilter_->findData(chosen)));
    }
    const QSignalBlocker quiet(startsList_);
    startsList_->clear();
    for (const StoredStart& s : starts_) {
        auto* item = new QListWidgetItem(QStringLiteral("%1\n%2").arg(RussianMoment(s.summary.switchOnMs), s.relay.Text()),
                                         startsList_);
        item->setToolTip(s.relay.Text());
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked.contains(s.folder) ? Qt::Checked : Qt::Unchecked);
    }
    filterStarts();
    showTickedStarts();
}

void TrendWindow::filterStarts()
{
    const QString chosen = relayFilter_->currentData().toString();
    for (int row = 0; row < startsList_->count() && row < int(starts_.size()); ++row)
        startsList_->item(row)->setHidden(chosen != kAllRelays && RelayKey(starts_[size_t(row)].relay) != chosen);
}

// A start ticked beside starts of another relay is drawn with them only
// when the user says so: the motors may differ.
void TrendWindow::startTicked(QListWidgetItem* item)
{
    const int row = startsList_->row(item);
    if (item->checkState() == Qt::Checked && row >= 0 && row < int(starts_.size())) {
        const RelayId& relay = starts_[size_t(row)].relay;
        QStringList others;
        for (int r = 0; r < startsList_->count(); ++r)
            if (r != row && startsList_->item(r)->checkState() == Qt::Checked
                && !starts_[size_t(r)].relay.SameRelay(relay) && !others.contains(starts_[size_t(r)].relay.Text()))
                others << starts_[size_t(r)].relay.Text();
        if (!others.isEmpty()
            && !AskToCompare(QStringLiteral("Пуск %1 записан на другом реле, чем уже отмеченные (%2). "
                                            "Показать пуски разных двигателей на одном графике?")
                                 .arg(relay.Text(), others.join(QStringLiteral("; "))))) {
            const QSignalBlocker quiet(startsList_);
            item->setCheckState(Qt::Unchecked);
            return;
        }
    }
    showTickedStarts();
}

// The ticked starts over each other in place of the live chart; none
// ticked, the live chart again. The readout starts afresh either way.
void TrendWindow::showTickedStarts()
{
    std::vector<std::pair<StoredStart, QString>> ticked;
    for (int row = 0; row < startsList_->count() && row < int(starts_.size()); ++row)
        if (startsList_->item(row)->checkState() == Qt::Checked)
            ticked.emplace_back(starts_[size_t(row)], QStringLiteral("%1 — %2").arg(
                                    RussianMoment(starts_[size_t(row)].summary.switchOnMs), starts_[size_t(row)].relay.Text()));
    overlay_.SetStarts(ticked);
    {
        const QSignalBlocker quiet(startsList_);
        size_t line = 0;
        for (int row = 0; row < startsList_->count(); ++row) {
            const bool on = startsList_->item(row)->checkState() == Qt::Checked;
            startsList_->item(row)->setIcon(on ? LineIcon(overlay_.Lines()[line++].pen) : QIcon());
        }
    }
    QChart* old = compare_;
    compare_ = overlay_.Empty() ? nullptr : overlay_.MakeChart();
    if (view_->chart() == old)
        view_->setChart(compare_ ? compare_ : static_cast<QChart*>(chart_));
    else if (compare_)
        view_->setChart(compare_);
    delete old;
    readout_->clear();
    for (QCheckBox* box : channels_)
        box->setEnabled(!ShowsStarts());   // the live chart's
}

