#include "app/settings/JournalDialog.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "exchanges/CountWords.h"
#include "settings/Journal.h"

namespace {
constexpr int kDialogWidth = 980;
constexpr int kDialogHeight = 480;
const QColor kTroubleBackground(255, 214, 214);
}  // namespace

QString OutcomeInRussian(const JournalEntry& e)
{
    switch (e.outcome) {
    case Outcome::Echoed: return QStringLiteral("записано");
    case Outcome::Refused: return QStringLiteral("отказ, исключение %1").arg(e.exceptionCode);
    case Outcome::Altered: return QStringLiteral("защита записала %1").arg(e.stored);
    case Outcome::Unconfirmed: return QStringLiteral("не подтверждено: защита может хранить любое из значений");
    default: break;
    }
    return e.tries > 0 ? QStringLiteral("нет ответа после %1")
                                         .arg(RussianCountText(e.tries, QStringLiteral("попытки"),
                                                               QStringLiteral("попыток"), QStringLiteral("попыток"))) : QStringLiteral("нет ответа");
}

JournalDialog::JournalDialog(const QString& path, QWidget* parent) : QDialog(parent), path_(path)
{
    setObjectName(QStringLiteral("JournalDialog"));
    setWindowTitle(QStringLiteral("Журнал изменений"));
    setWindowModality(Qt::WindowModal);
    resize(kDialogWidth, kDialogHeight);
    auto* layout = new QVBoxLayout(this);
    table_ = new QTableWidget(0, kColumns, this);
    table_->setObjectName(QStringLiteral("JournalTable"));
    table_->setHorizontalHeaderLabels({QStringLiteral("Время"), QStringLiteral("Программа"),
                                       QStringLiteral("Устройство"), QStringLiteral("Адрес"),
                                       QStringLiteral("Регистр"), QStringLiteral("Уставка"), QStringLiteral("Было"),
                                       QStringLiteral("Запрошено"), QStringLiteral("Итог")});
    table_->verticalHeader()->setVisible(false);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setSectionResizeMode(kSetting, QHeaderView::Stretch);
    layout->addWidget(table_, 1);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Status"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status_);
    auto* buttons = new QDialogButtonBox(this);
    auto* reload = buttons->addButton(QStringLiteral("Обновить"), QDialogButtonBox::ActionRole);
    reload->setAutoDefault(false);
    connect(reload, &QPushButton::clicked, this, &JournalDialog::Reload);
    buttons->addButton(QStringLiteral("Закрыть"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    Reload();
}

void JournalDialog::Reload()
{
    const JournalRead read = ReadJournal(path_);
    table_->setRowCount(0);
    table_->setRowCount(int(read.entries.size()));
    int row = 0;
    // Newest first.
    for (auto e = read.entries.rbegin(); e != read.entries.rend(); ++e, ++row) {
        const QStringList cells{e->time,
                                e->program,
                                e->device,
                                QString::number(e->address),
                                QString::number(e->reg),
                                e->name.isEmpty() ? QString() : e->name + QLatin1Char(' ') + e->caption,
                                e->before ? QString::number(*e->before) : QStringLiteral("—"),
                                QString::number(e->value),
                                OutcomeInRussian(*e)};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (e->outcome != Outcome::Echoed)
                item->setBackground(kTroubleBackground);
            table_->setItem(row, c, item);
        }
    }
    QString text = QStringLiteral("%1: записей %2").arg(QDir::toNativeSeparators(path_)).arg(qint64(read.entries.size()) + read.left);
    if (read.left > 0)
        text += QStringLiteral(", показаны последние %1").arg(read.entries.size());
    if (read.unreadable > 0)
        text += QStringLiteral("; нечитаемых строк %1").arg(read.unreadable);
    if (!read.failure.isEmpty())
        text += QStringLiteral("; не прочитан %1").arg(read.failure);
    status_->setText(text);
}
