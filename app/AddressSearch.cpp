#include "app/AddressSearch.h"

#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <algorithm>

#include "app/SpinEdit.h"
#include "exchanges/RegisterCatalog.h"
#include "link/AddressProbe.h"
#include "link/RelaySession.h"

namespace {

const QString kMenuItem = QStringLiteral("Найти адрес реле…");
const QString kCaption = QStringLiteral("Поиск адреса реле");
const QString kStopButton = QStringLiteral("Остановить");
const QString kCloseButton = QStringLiteral("Закрыть");

QString AddressList(const std::vector<int>& addresses)
{
    QStringList list;
    for (int address : addresses)
        list << QString::number(address);
    return list.join(QStringLiteral(", "));
}

}  // namespace

AddressSearch::AddressSearch(RelaySession& session, TSpinEdit* field, QWidget* window)
    : QObject(window), session_(session), field_(field), window_(window), probe_(new AddressProbe(session, this))
{
    connect(probe_, &AddressProbe::finished, this, &AddressSearch::probed);
    setObjectName(QStringLiteral("AddressSearch"));
    field_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(field_, &QWidget::customContextMenuRequested, this, &AddressSearch::showMenu);
    connect(&session_, &RelaySession::lineOpenChanged, this, [this](bool open) {
        if (!open && running_)
            Stop();
    });
}

AddressSearch::~AddressSearch()
{
    delete dialog_;
}


void AddressSearch::showMenu(const QPoint& at)
{
    QMenu* menu = field_->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addSeparator();
    QAction* search = menu->addAction(kMenuItem, this, [this] { Start(); });
    search->setObjectName(QStringLiteral("FindRelayAddress"));
    search->setEnabled(session_.IsOpen() && !running_);
    menu->popup(field_->mapToGlobal(at));
}

void AddressSearch::makeDialog()
{
    dialog_ = new QDialog(window_);
    dialog_->setObjectName(QStringLiteral("AddressSearchDialog"));
    dialog_->setWindowTitle(kCaption);
    dialog_->setWindowModality(Qt::WindowModal);
    status_ = new QLabel(dialog_);
    bar_ = new QProgressBar(dialog_);
    bar_->setRange(kFirstAddress, kLastAddress);
    button_ = new QPushButton(dialog_);
    auto* layout = new QVBoxLayout(dialog_);
    layout->addWidget(status_);
    layout->addWidget(bar_);
    layout->addWidget(button_, 0, Qt::AlignRight);
    // The button stops a search under way and closes the dialog after one;
    // closing the dialog stops the search as well.
    connect(button_, &QPushButton::clicked, dialog_, &QDialog::reject);
    connect(dialog_, &QDialog::rejected, this, [this] { Stop(); });
}

bool AddressSearch::Start()
{
    if (running_ || !session_.IsOpen())
        return false;
    found_.clear();
    next_ = kFirstAddress;
    asked_ = 0;
    running_ = true;
    if (!dialog_)
        makeDialog();
    button_->setText(kStopButton);
    showProgress();
    dialog_->show();
    askNext();
    return true;
}

void AddressSearch::Stop()
{
    if (!running_)
        return;
    if (dialog_)
        dialog_->hide();
    finish();
}

void AddressSearch::askNext()
{
    if (next_ > kLastAddress) {
        finish();
        return;
    }
    asked_ = next_++;
    showProgress();
    const int tickMs = std::max(session_.Options().tickMs, 1);
    // Queued behind whatever the window asked before (a save reading the
    // settings): the probe goes out as soon as the line is ours.
    probe_->Start(asked_, {kRelayAddressRegister, 1}, (kProbeTimeoutMs + tickMs - 1) / tickMs);
}

void AddressSearch::probed(const Answer& answer, bool found)
{
    if (!running_)
        return;
    // A refusal is an answer too: a device holds that address.
    if (found)
        found_.push_back(answer.question.address);
    if (answer.outcome == Outcome::Aborted) {
        Stop();
        return;
    }
    askNext();
}

void AddressSearch::showProgress()
{
    if (!dialog_)
        return;
    bar_->setValue(std::max(asked_, kFirstAddress));
    QString text = QStringLiteral("Опрос адреса %1 из %2").arg(std::max(asked_, kFirstAddress)).arg(kLastAddress);
    if (!found_.empty())
        text += QStringLiteral("\nОтветили: %1").arg(AddressList(found_));
    status_->setText(text);
}

void AddressSearch::finish()
{
    running_ = false;
    asked_ = 0;
    probe_->Abandon();
    if (!found_.empty()) {
        field_->SetValue(found_.front());
        session_.SetSlaveAddress(found_.front());
    }
    if (dialog_ && dialog_->isVisible()) {
        bar_->setValue(kLastAddress);
        status_->setText(found_.empty() ? QStringLiteral("Ни один адрес не ответил.")
                                        : QStringLiteral("Ответили: %1\nУстановлен адрес %2.")
                                              .arg(AddressList(found_)).arg(found_.front()));
        button_->setText(kCloseButton);
    }
    emit finished();
}
