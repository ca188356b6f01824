#include "app/settings/SettingsDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/settings/RelayQuestions.h"
#include "exchanges/ExchangeTable.h"

namespace {

const QColor kDifferenceBackground(255, 236, 179);
const QString kDifferenceMark = QStringLiteral("≠");
constexpr int kDialogWidth = 980;
constexpr int kDialogHeight = 640;
constexpr int kStatusLines = 9;

QString TroubleStyle(bool trouble)
{
    return trouble ? QStringLiteral("color: #8b0000;") : QString();
}

}  // namespace

SettingsDialog::SettingsDialog(Mode mode, const QString& path, const SettingsFile& file, RelayQuestions& questions,
                               RelaySession& session, QWidget* parent)
    : QDialog(parent), mode_(mode), path_(path), file_(file), questions_(&questions), session_(session)
{
    setObjectName(mode == Mode::Load ? QStringLiteral("SettingsLoadDialog") : QStringLiteral("SettingsCompareDialog"));
    setWindowModality(Qt::WindowModal);
    resize(kDialogWidth, kDialogHeight);

    auto* layout = new QVBoxLayout(this);
    header_ = new QLabel(this);
    header_->setWordWrap(true);
    header_->setText(QStringLiteral("Файл: %1\nСохранён: %2, адрес защиты в файле: %3")
                         .arg(QDir::toNativeSeparators(path), file.saved.isEmpty() ? QStringLiteral("—") : file.saved,
                              file.address > 0 ? QString::number(file.address) : QStringLiteral("—")));
    layout->addWidget(header_);

    onlyDifferences_ = new QCheckBox(QStringLiteral("Только различия"), this);
    onlyDifferences_->setObjectName(QStringLiteral("OnlyDifferences"));
    connect(onlyDifferences_, &QCheckBox::toggled, this, &SettingsDialog::showOnlyDifferences);
    layout->addWidget(onlyDifferences_);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("SettingsTable"));
    table_->setHorizontalHeaderLabels({mode == Mode::Load ? QStringLiteral("Записать") : QString(),
                                       QStringLiteral("Уставка"), QStringLiteral("Ед. изм."),
                                       QStringLiteral("В защите"), QStringLiteral("В файле")});
    table_->verticalHeader()->setVisible(false);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    // Every column as wide as its texts (a long item of a selection box
    // scrolls rather than being cut); the file's values take what is left.
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    connect(table_, &QTableWidget::itemChanged, this, &SettingsDialog::itemChanged);
    layout->addWidget(table_, 1);

    warning_ = new QLabel(this);
    warning_->setObjectName(QStringLiteral("AddressWarning"));
    warning_->setWordWrap(true);
    warning_->setStyleSheet(TroubleStyle(true));
    warning_->setVisible(false);
    layout->addWidget(warning_);

    progress_ = new QProgressBar(this);
    progress_->setVisible(mode == Mode::Load);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    layout->addWidget(progress_);

    // What was read, written and not written: lines to read and copy.
    status_ = new QPlainTextEdit(this);
    status_->setObjectName(QStringLiteral("Status"));
    status_->setReadOnly(true);
    status_->setMaximumHeight(status_->fontMetrics().lineSpacing() * kStatusLines);
    layout->addWidget(status_);

    auto* buttons = new QDialogButtonBox(this);
    if (mode == Mode::Load) {
        writeButton_ = buttons->addButton(QStringLiteral("Записать выбранные"), QDialogButtonBox::ActionRole);
        writeButton_->setObjectName(QStringLiteral("WriteChosen"));
        writeButton_->setEnabled(false);
        writeButton_->setAutoDefault(false);
        connect(writeButton_, &QPushButton::clicked, this, &SettingsDialog::writeChosen);
    }
    closeButton_ = buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    setTitle();
}

SettingsDialog::~SettingsDialog()
{
    if (questions_)
        questions_->Forget();
}

void SettingsDialog::Start()
{
    readRelay(0);
}

void SettingsDialog::readRelay(int address)
{
    busy_ = true;
    if (writeButton_)
        writeButton_->setEnabled(false);
    if (!loaded_)
        setStatus(QStringLiteral("Чтение уставок из защиты…"), false);
    questions_->Read(kSettingsBlock, address,
                    [this](const RegisterValues* values, const QString& failure) { relayRead(values, failure); });
}

void SettingsDialog::relayRead(const RegisterValues* values, const QString& failure)
{
    busy_ = false;
    const QString before = loaded_ ? loadSummary_ + QStringLiteral("\n\n") : QString();
    if (!values) {
        setStatus(before + failure, true);
        emit compared();
        return;
    }
    relay_ = *values;
    haveRelay_ = true;
    plan_ = PlanLoad(file_, relay_, true);
    fillTable();
    setTitle();
    QString text = before;
    if (loaded_)
        text += QStringLiteral("Прочитано из защиты после записи: различий %1.").arg(differences_);
    else if (differences_ == 0)
        text += QStringLiteral("Защита хранит уставки файла.");
    else
        text += QStringLiteral("Различий: %1.").arg(differences_);
    bool trouble = loaded_ && !loadOutcome_.stop.isEmpty();
    if (mode_ == Mode::Load && !plan_.outOfRange.isEmpty()) {
        // Refused whole, as the companion refuses it: nothing is sent.
        QStringList lines;
        for (const QString& value : plan_.outOfRange)
            lines << QStringLiteral("%1: %2").arg(path_, value);
        lines << QStringLiteral("%1: refused; nothing was written to the relay").arg(path_);
        text += QLatin1Char('\n') + lines.join(QLatin1Char('\n'));
        trouble = true;
    } else if (mode_ == Mode::Load && differences_ > 0 && !loaded_) {
        text += QStringLiteral(" Отметьте уставки и нажмите «Записать выбранные».");
    }
    setStatus(text, trouble);
    if (writeButton_)
        writeButton_->setEnabled(plan_.outOfRange.isEmpty() && !plan_.writes.empty());
    emit compared();
}

void SettingsDialog::fillTable()
{
    filling_ = true;
    table_->setRowCount(0);
    differences_ = 0;
    std::set<int> planned;
    for (const PlannedWrite& w : plan_.writes)
        planned.insert(w.definition->reg);
    for (const SettingValue& s : file_.settings) {
        const SettingSpec& d = *s.definition;
        const uint16_t held = relay_.At(d.reg);
        // What a load would keep as the relay holds it is no difference.
        const bool differs = held != LoadTarget(d, s.value, held);
        differences_ += differs ? 1 : 0;
        const int row = table_->rowCount();
        table_->insertRow(row);
        auto* mark = new QTableWidgetItem;
        auto* caption = new QTableWidgetItem(d.caption);
        caption->setToolTip(SettingLabel(d));
        caption->setData(Qt::UserRole, d.name);
        auto* unit = new QTableWidgetItem(d.unit);
        auto* relay = new QTableWidgetItem(SettingValueText(d, held));
        auto* inFile = new QTableWidgetItem(SettingValueText(d, s.value));
        mark->setFlags(Qt::ItemIsEnabled);
        if (differs) {
            mark->setText(kDifferenceMark);
            QFont bold = relay->font();
            bold.setBold(true);
            for (QTableWidgetItem* item : {mark, caption, unit, relay, inFile}) {
                item->setBackground(kDifferenceBackground);
                item->setFont(bold);
            }
            if (mode_ == Mode::Load && planned.count(d.reg)) {
                // The relay's own address only with a tick of its own.
                mark->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
                mark->setCheckState(d.reg == kRelayAddressRegister ? Qt::Unchecked : Qt::Checked);
                mark->setText(QString());
            } else if (mode_ == Mode::Load) {
                mark->setToolTip(QStringLiteral("Не записывается: биты без флажка в окне и значения вне диапазона "
                                                "остаются как в защите"));
            }
        }
        table_->setItem(row, kMark, mark);
        table_->setItem(row, kCaption, caption);
        table_->setItem(row, kUnit, unit);
        table_->setItem(row, kRelay, relay);
        table_->setItem(row, kFile, inFile);
    }
    filling_ = false;
    warning_->setVisible(false);
    showOnlyDifferences();
}

void SettingsDialog::showOnlyDifferences()
{
    const bool only = onlyDifferences_->isChecked();
    for (int row = 0; row < table_->rowCount(); ++row)
        table_->setRowHidden(row, only && table_->item(row, kMark)->text().isEmpty()
                                      && !(table_->item(row, kMark)->flags() & Qt::ItemIsUserCheckable));
}

QStringList SettingsDialog::DifferingNames() const
{
    QStringList names;
    for (int row = 0; row < table_->rowCount(); ++row)
        if (!table_->item(row, kMark)->text().isEmpty() || (table_->item(row, kMark)->flags() & Qt::ItemIsUserCheckable))
            names << table_->item(row, kCaption)->data(Qt::UserRole).toString();
    return names;
}

int SettingsDialog::RowOf(const QString& name) const
{
    for (int row = 0; row < table_->rowCount(); ++row)
        if (table_->item(row, kCaption)->data(Qt::UserRole).toString() == name)
            return row;
    return -1;
}

bool SettingsDialog::Ticked(const QString& name) const
{
    const int row = RowOf(name);
    return row >= 0 && (table_->item(row, kMark)->flags() & Qt::ItemIsUserCheckable)
        && table_->item(row, kMark)->checkState() == Qt::Checked;
}

void SettingsDialog::SetTicked(const QString& name, bool ticked)
{
    const int row = RowOf(name);
    if (row >= 0 && (table_->item(row, kMark)->flags() & Qt::ItemIsUserCheckable))
        table_->item(row, kMark)->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

void SettingsDialog::itemChanged(QTableWidgetItem* item)
{
    if (filling_ || item->column() != kMark)
        return;
    const QString name = table_->item(item->row(), kCaption)->data(Qt::UserRole).toString();
    const SettingSpec* d = FindSetting(name);
    if (!d || d->reg != kRelayAddressRegister)
        return;
    const bool ticked = item->checkState() == Qt::Checked;
    const int row = RowOf(name);
    warning_->setText(QStringLiteral("Внимание: будет изменён адрес самой защиты (%1 → %2). Он записывается "
                                     "последним; после него защита отвечает только по новому адресу, а окно "
                                     "продолжит обращаться по адресу %1 из поля «Адрес подчиненного устройства "
                                     "в сети» — измените его там.")
                          .arg(table_->item(row, kRelay)->text(), table_->item(row, kFile)->text()));
    warning_->setVisible(ticked);
}

void SettingsDialog::writeChosen()
{
    if (busy_ || !haveRelay_ || !plan_.outOfRange.isEmpty())
        return;
    std::vector<PlannedWrite> chosen;
    for (const PlannedWrite& w : plan_.writes)
        if (Ticked(w.definition->name))
            chosen.push_back(w);
    if (chosen.empty()) {
        setStatus(QStringLiteral("Ничего не отмечено: ничего не записано."), false);
        return;
    }
    QString why;
    if (!questions_->Ready(why)) {
        setStatus(why, true);
        return;
    }
    busy_ = true;
    writeButton_->setEnabled(false);
    table_->setEnabled(false);
    progress_->setRange(0, int(chosen.size()));
    progress_->setValue(0);
    setStatus(QStringLiteral("Запись уставок: %1…").arg(chosen.size()), false);
    run_ = std::make_unique<LoadRun>(session_, RelayQuestions::kTries, relayAddress_, chosen, plan_.expected);
    connect(run_.get(), &LoadRun::progress, this, [this](int done, int) { progress_->setValue(done); });
    connect(run_.get(), &LoadRun::finished, this, &SettingsDialog::loadFinished);
    run_->Start();
}

void SettingsDialog::loadFinished()
{
    loadOutcome_ = run_->Outcome();
    const LoadResult& result = run_->Result();
    loaded_ = true;
    loadReadBack_ = result.readBack.has_value();
    // A later load goes where the relay answers: at the address just written,
    // unless it was found still answering at the old one (it takes the new one
    // on restart).
    if (loadOutcome_.addressWritten)
        relayAddress_ = result.readBack && result.readBackAddress == result.oldAddress ? result.oldAddress
                                                                                        : loadOutcome_.newAddress;
    table_->setEnabled(true);
    QStringList lines;
    const size_t total = loadOutcome_.settings.size();
    lines << QStringLiteral("Записано %1 из %2:").arg(loadOutcome_.written.size()).arg(total);
    for (const PlannedWrite& w : loadOutcome_.written)
        lines << QStringLiteral("  ✓ ") + WriteLine(w);
    if (!loadOutcome_.stop.isEmpty()) {
        lines << QStringLiteral("Запись остановлена: ") + loadOutcome_.stop;
        if (!loadOutcome_.unconfirmed.empty()) {
            lines << QStringLiteral("Не подтверждено (отправлено; защита может хранить любое из значений):");
            for (const PlannedWrite& w : loadOutcome_.unconfirmed)
                lines << QStringLiteral("  ? ") + WriteLine(w);
        }
        if (!loadOutcome_.notWritten.empty()) {
            lines << QStringLiteral("Не записано:");
            for (const PlannedWrite& w : loadOutcome_.notWritten)
                lines << QStringLiteral("  ✗ ") + WriteLine(w);
        }
    }
    loadSummary_ = lines.join(QLatin1Char('\n'));
    setStatus(loadSummary_, !loadOutcome_.stop.isEmpty());
    emit writesEnded();
    // The comparison again, from what the relay holds after the writes (read
    // at its new address after its own address was written).
    if (result.readBack) {
        relayRead(&*result.readBack, QString());
        return;
    }
    relayRead(nullptr, result.lineLost
                           ? QStringLiteral("Связь с СОМ портом потеряна: уставки после записи не прочитаны.")
                           : QStringLiteral("Защита не ответила на чтение уставок после записи."));
}

void SettingsDialog::setTitle()
{
    const QString name = QFileInfo(path_).fileName();
    const QString what = mode_ == Mode::Load ? QStringLiteral("Загрузка уставок из файла %1").arg(name)
                                             : QStringLiteral("Сравнение уставок с файлом %1").arg(name);
    setWindowTitle(differences_ < 0 ? what : what + QStringLiteral(" — различий: %1").arg(differences_));
}

void SettingsDialog::setStatus(const QString& text, bool trouble)
{
    status_->setPlainText(text);
    status_->setStyleSheet(TroubleStyle(trouble));
}
