#include "app/UnitMain.h"

#include <algorithm>

#include <QAction>
#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimeEdit>
#include <QTimer>

#include "app/ComLed.h"
#include "app/ComboBox.h"
#include "app/ComPortLine.h"
#include "app/LedIndicator.h"
#include "app/LocaleFormats.h"
#include "app/MessageBoxes.h"
#include "app/PageControl.h"
#include "app/PortMessages.h"
#include "app/SpinEdit.h"
#include "app/WindowLayout.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/Masks.h"
#include "link/PollModes.h"

namespace {
const QString kOpen = QStringLiteral("Открыть");
const QString kClose = QStringLiteral("Закрыть");
const QString kPortErrorCaption = QStringLiteral("Ошибка СОМ порта");

QTimer* makeTimer(QObject* owner, const char* name, int interval, Qt::TimerType type)
{
    auto* t = new QTimer(owner);
    t->setObjectName(QLatin1String(name));
    t->setInterval(interval);
    t->setTimerType(type);
    return t;
}
}

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), cycle_(*this, *this)
{
    setObjectName(QStringLiteral("Form1"));
    // A fixed single-border window with minimise but no maximise, above
    // other windows; the layout gives it its caption, font and size.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                   | Qt::CustomizeWindowHint | Qt::WindowStaysOnTopHint);

    WindowControls built;
    BuildWindowLayout(this, built);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    controls_ = built.byName;
    PageControl1 = built.PageControl1;
    PopupMenu = built.PopupMenu;
    for (int i = 0; i < 4; ++i)
        N_[i] = built.N[i];

    ComPort = new TComPort(this);
    ComPort->setObjectName(QStringLiteral("ComPort"));
    ComPort->BaudRate = br9600;
    ComPort->StopBits = sbOneStopBit;
    ComPort->DataBits = dbEight;
    ComPort->Events = {evRxChar};
    ComPort->Timeouts.ReadInterval = -1;
    ComPort->Timeouts.ReadTotalMultiplier = 200;
    ComPort->Timeouts.ReadTotalConstant = 200;
    ComPort->Timeouts.WriteTotalMultiplier = 0;
    ComPort->Timeouts.WriteTotalConstant = 0;
    ComPort->SetSyncMethod(smWindowSync);
    portLine_ = std::make_unique<ComPortLine>(ComPort);
    cycle_.SetLine(portLine_.get());

    Timer = makeTimer(this, "Timer", kPollTickMs, Qt::PreciseTimer);
    Timer1 = makeTimer(this, "Timer1", 1000, Qt::CoarseTimer);
    Timer2 = makeTimer(this, "Timer2", 250, Qt::CoarseTimer);
    Timer3 = makeTimer(this, "Timer3", 500, Qt::CoarseTimer);

    bindControls();
    wireHandlers();
    Timer1->start();
}

TForm1::~TForm1()
{
    FormDestroy();
    destroying_ = true;
    // The controls go after this destructor: the one with the focus leaves it
    // now, while the window can still run its exit handler, and none of them
    // calls a handler of this window afterwards.
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    for (QObject* child : findChildren<QObject*>())
        QObject::disconnect(child, nullptr, this, nullptr);
    Timer->stop();
    // Nothing of the window may be called back while the port goes: unhook
    // it, then let it close its device.
    ComPort->OnRxChar = nullptr;
    ComPort->RemoveLink(&portLink_);
    ComLed->SetComPort(nullptr);
    delete ComPort;
    ComPort = nullptr;
}

void TForm1::bindControls()
{
    for (int i = 0; i <= 12; ++i)
        E_[i] = ControlAs<QLineEdit>(QStringLiteral("E%1").arg(i));
    for (int i = 0; i <= 14; ++i)
        L_[i] = ControlAs<TLedIndicator>(QStringLiteral("L%1").arg(i));
    for (int i = 0; i < 8; ++i) {
        LabelS_[i] = ControlAs<QLabel>(QStringLiteral("LabelS%1").arg(i + 1));
        Panel_[i] = Control(QStringLiteral("Panel%1").arg(i + 1));
    }
    DPicker = ControlAs<QDateEdit>(QStringLiteral("DPicker"));
    TPicker = ControlAs<QTimeEdit>(QStringLiteral("TPicker"));
    ButtonSys = ControlAs<QPushButton>(QStringLiteral("ButtonSys"));
    ButtonDT = ControlAs<QPushButton>(QStringLiteral("ButtonDT"));
    ButtonCOM = ControlAs<QPushButton>(QStringLiteral("ButtonCOM"));
    LabelNum = ControlAs<QLabel>(QStringLiteral("LabelNum"));
    LabelDT = ControlAs<QLabel>(QStringLiteral("LabelDT"));
    SEAddres = ControlAs<TSpinEdit>(QStringLiteral("SEAddres"));
    ComLed = ControlAs<TComLed>(QStringLiteral("ComLed"));
    ComLed->SetComPort(ComPort);
    registers_.Bind([this](const QString& name) { return Control(name); });
    // The edited mark lives in each editable control's Tag property.
    for (const PageTable& page : LayoutTables())
        for (const BoundControl& c : registers_.Page(page.index))
            if (c.row->kind == ControlKind::SpinEdit || c.row->kind == ControlKind::ComboBox
                || c.row->kind == ControlKind::CheckBox || c.row->format == ValueFormat::BitText)
                c.widget->setProperty("Tag", kTagFollowing);
}

void TForm1::wireMasksAndClock()
{
    for (const BoundControl& c : registers_.Page(kMasksPage)) {
        if (auto* box = qobject_cast<QCheckBox*>(c.widget))
            connect(box, &QCheckBox::clicked, this, [this, box] { M1CB1Click(box); });
    }
    connect(maskOk(kMaskRegisters[0]), &QPushButton::clicked, this, [this] { ButtonM1Click(); });
    connect(maskOk(kMaskRegisters[1]), &QPushButton::clicked, this, [this] { ButtonM2Click(); });
    connect(maskOk(kMaskRegisters[2]), &QPushButton::clicked, this, [this] { ButtonM3Click(); });
    for (int n = 1; n <= 4; ++n) {
        auto* report = ControlAs<QPushButton>(QStringLiteral("ButtonP%1").arg(n));
        connect(report, &QPushButton::clicked, this, [this, report] { ButtonP1Click(report); });
    }
    for (QPushButton* button : {ButtonSys, ButtonDT})
        connect(button, &QPushButton::clicked, this, [this, button] { ButtonSysClick(button); });
    connect(DPicker, &QDateTimeEdit::dateTimeChanged, this, [this] { DPickerChange(DPicker); });
    connect(TPicker, &QDateTimeEdit::dateTimeChanged, this, [this] { DPickerChange(TPicker); });
}

void TForm1::wireSettingEditors()
{
    for (int page : {1, 2}) {
        for (const BoundControl& c : registers_.Page(page)) {
            if (auto* spin = qobject_cast<TSpinEdit*>(c.widget)) {
                connect(spin, &TSpinEdit::userChanged, this, [this, spin] { SE0Change(spin); });
                connect(spin, &TSpinEdit::keyDown, this,
                        [this, spin](QKeyEvent* e) { SE0KeyDown(spin, e->key()); });
                connect(spin, &TSpinEdit::exited, this, [this, spin] { SE0Exit(spin); });
            } else if (auto* box = qobject_cast<TComboBox*>(c.widget)) {
                connect(box, &QComboBox::activated, this, [this, box] { CB1Change(box); });
                connect(box, &TComboBox::popupOpened, this, [this, box] { CB1Change(box); });
                connect(box, &TComboBox::keyDown, this, [this, box](QKeyEvent* e) { CB1KeyDown(box, e->key()); });
                connect(box, &TComboBox::exited, this, [this, box] { CB1Exit(box); });
            }
        }
    }
}

void TForm1::wireHandlers()
{
    connect(Timer, &QTimer::timeout, this, &TForm1::pollTimerFired);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);
    connect(ButtonCOM, &QPushButton::clicked, this, [this] { ButtonCOMClick(); });
    for (QAction* item : N_)
        connect(item, &QAction::triggered, this, [this, item] { NClick(item); });
    LabelNum->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(LabelNum, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (autoPopup_)
            PopupMenu->popup(LabelNum->mapToGlobal(at));
    });
    SEAddres->installEventFilter(this);
    connect(PageControl1, &TPageControl::changing, this, &TForm1::PageControl1Changing);
    connect(PageControl1, &TPageControl::changed, this, &TForm1::PageControl1Change);
    wireSettingEditors();
    wireMasksAndClock();

    ComPort->OnRxChar = [this](QObject* sender, int count) { Receive(sender, count); };
    portLink_.OnDeviceLost = [this](int osError, const QString& reason) {
        // Closing the port from inside its own notification would wait on the
        // watcher that is telling us; do it from the event loop instead.
        QMetaObject::invokeMethod(this, [this, osError, reason] { ComPortLost(osError, reason); },
                                  Qt::QueuedConnection);
    };
    ComPort->AddLink(&portLink_);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == SEAddres && event->type() == QEvent::KeyPress)
        SEAddresKeyDown(static_cast<QKeyEvent*>(event)->key());
    return QWidget::eventFilter(watched, event);
}

void TForm1::showEvent(QShowEvent* event)
{
    if (!shownOnce_) {
        shownOnce_ = true;
        FormShow();
    }
    QWidget::showEvent(event);
}

// ---- start-up, port choice and connection ---------------------------------

void TForm1::FormShow()
{
    ComNumber = 1;
    for (int i = 0; i < 4; ++i)
        N_[i]->setChecked(i == 0);
    SlaveAddress = 1;
    clearCurrentParams();
    PageControl1->SelectFromCode(0);
}

void TForm1::clearCurrentParams()
{
    for (QLineEdit* e : E_)
        e->clear();
}

void TForm1::Timer1Timer()
{
    LabelDT->setText(LocalDateTimeText(Now()));
}

void TForm1::NClick(QAction* item)
{
    if (ComNumber >= 1 && ComNumber <= 4)
        N_[ComNumber - 1]->setChecked(false);
    for (int i = 0; i < 4; ++i)
        if (N_[i] == item) {
            item->setChecked(true);
            ComNumber = i + 1;
        }
}

void TForm1::SEAddresKeyDown(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        SlaveAddress = SEAddres->Value();
}

void TForm1::ButtonCOMClick()
{
    if (ButtonCOM->text() == kOpen) {
        SlaveAddress = SEAddres->Value();
        OpenComPort();
    } else {
        CloseRequested = 1;
    }
}

void TForm1::OpenComPort()
{
    try {
        ComPort->SetPort(QStringLiteral("COM%1").arg(ComNumber));
        ComPort->Open();
        ReadyToSend = 1;
        ButtonCOM->setText(kClose);
        setAutoPopup(false);
        ButtonSys->setVisible(true);
        DPicker->setEnabled(true);
        TPicker->setEnabled(true);
        LabelNum->setText(QStringLiteral("COM %1").arg(ComNumber));
        MissCount = 0;
        for (int reg : kMaskRegisters)
            followRelay(reg);
        PollMode = pmReadParam;
        cycle_.ForgetLinkLook();
        polling_ = true;
        tickClock_.start();
        lastTick_ = 0;
        armPollTimer();
    } catch (const EComPort& e) {
        ShowErrorMessage(this, {kPortErrorCaption, QStringLiteral("Не могу открыть СОМ порт"),
                                PortFailureDetail(ComPort->DevicePath(), e.OsErrorCode,
                                                  QString::fromUtf8(e.what()))});
    } catch (const std::exception& e) {
        ShowErrorMessage(this, {kPortErrorCaption, QStringLiteral("Не могу открыть СОМ порт"),
                                PortFailureDetail(ComPort->DevicePath(), 0, QString::fromUtf8(e.what()))});
    }
}

void TForm1::CloseComPort()
{
    polling_ = false;
    Timer->stop();
    ComPort->Close();
    ExchangeContext = ecPortClosed;
    ButtonCOM->setText(kOpen);
    LabelNum->setText(QStringLiteral("COM-порт"));
    setAutoPopup(true);
    ButtonSys->setVisible(false);
    ButtonDT->setVisible(false);
    DPicker->setEnabled(false);
    TPicker->setEnabled(false);
    clearCurrentParams();
    for (TLedIndicator* led : L_)
        led->SetChecked(false);
    Timer3->stop();
    MissCount = 0;
    for (QLabel* notice : LabelS_)
        notice->setVisible(false);
}

void TForm1::ComPortLost(int osError, const QString& reason)
{
    if (destroying_ || !ComPort->Connected())
        return;   // already closed: one message per loss
    const QString path = ComPort->DevicePath();
    CloseComPort();
    ShowErrorMessage(this, {kPortErrorCaption, QStringLiteral("Связь с СОМ портом потеряна"),
                            PortFailureDetail(path, osError, reason)});
}

void TForm1::FormDestroy()
{
    CloseRequested = 1;
}

// ---- the poll cycle ---------------------------------------------------------

void TForm1::TimerTimer()
{
    try {
        cycle_.Tick();
    } catch (const EComPort& e) {
        lineFailed(e);
    }
}

// The ticks keep a fixed 5 ms grid from the opening of the port, as a free-
// running timer would; but the poll timer sleeps through the ticks that would
// only count and wakes for the one that sends or times out: the same ticks,
// without 200 wake-ups a second.
// Time the line takes for `bytes` characters at 9600 8N1 (ten bits each).
int TForm1::LineTimeMs(int bytes)
{
    return (bytes * 10 * 1000 + 9599) / 9600;
}

qint64 TForm1::tickOfNow() const
{
    return tickClock_.nsecsElapsed() / (qint64(kPollTickMs) * 1000000);
}

void TForm1::pollTimerFired()
{
    const qint64 passed = std::max<qint64>(tickOfNow() - lastTick_, 0);
    const int due = cycle_.TicksToNextEvent();
    if (passed < due) {
        // Woken before the tick that can do anything (a receive event moved
        // it later): count the ticks gone by and sleep on.
        cycle_.CountIdleTicks(int(passed));
        lastTick_ += passed;
        armPollTimer();
        return;
    }
    // A late wake-up runs the one tick due; the ticks it slept past are gone,
    // as a late timer's would be.
    cycle_.CountIdleTicks(due - 1);
    lastTick_ += passed;
    TimerTimer();
    armPollTimer();
}

qint64 TForm1::nextEventNs() const
{
    return (lastTick_ + cycle_.TicksToNextEvent()) * qint64(kPollTickMs) * 1000000;
}

void TForm1::armPollTimer()
{
    if (!polling_)
        return;
    armedDueNs_ = nextEventNs();
    const qint64 waitNs = std::max<qint64>(armedDueNs_ - tickClock_.nsecsElapsed(), 0);
    Timer->start(int((waitNs + 999999) / 1000000));
}

void TForm1::Receive(QObject* /*Sender*/, int Count)
{
    try {
        cycle_.Receive(Count);
    } catch (const EComPort& e) {
        lineFailed(e);
        return;
    }
    // The receive event restarted the count: the next tick of the grid is the
    // first. The timer is set again only if that brings its wake-up forward
    // (a whole reply: the send is due); a piece of a reply leaves it alone.
    if (!polling_)
        return;
    // The rest of a reply takes its line time to come: look away until its
    // last bytes are due, so that a reply is taken in two or three events
    // rather than piece by piece. A short rest (the last piece, a little
    // late) is taken as it lands: looking away then would only delay it.
    if (const int restMs = LineTimeMs(cycle_.BytesStillExpected()); restMs > kShortestRxHoldMs)
        ComPort->HoldRxChar(std::min(restMs, kLongestRxHoldMs));
    lastTick_ = tickOfNow();
    if (!Timer->isActive() || nextEventNs() < armedDueNs_)
        armPollTimer();
}

// A write or read that fails means the device is gone: stop ticking now and
// report it once from the event loop, instead of a failure every 5 ms.
void TForm1::lineFailed(const EComPort& e)
{
    polling_ = false;
    Timer->stop();
    const int code = e.OsErrorCode;
    QMetaObject::invokeMethod(this, [this, code] { ComPortLost(code, QString()); },
                              Qt::QueuedConnection);
}

void TForm1::BuildRequest()
{
    // No exchange of that mode: the previous request goes out again.
    if (const Exchange* exchange = FindExchange(PollMode))
        (this->*exchange->build)();
}

void TForm1::HandleReadReply(const SentRequest& sent)
{
    if (const Exchange* exchange = FindExchange(sent.mode); exchange && exchange->decode)
        (this->*exchange->decode)(sent);
}

void TForm1::HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict)
{
    WriteUstReceive(sent, verdict);
}

void TForm1::ShowLinkLost()
{
    if (!Timer3->isActive())
        Timer3->start();
    ButtonSys->setVisible(false);
    ButtonDT->setVisible(false);
    DPicker->setEnabled(false);
    TPicker->setEnabled(false);
}

void TForm1::ShowLinkPresent()
{
    Timer3->stop();
    for (QLabel* notice : LabelS_)
        notice->setVisible(false);
    if (ComLed->State() == lsOn) {
        ButtonSys->setVisible(true);
        DPicker->setEnabled(true);
        TPicker->setEnabled(true);
    }
}

void TForm1::Timer3Timer()
{
    const int page = PageControl1->currentIndex();
    if (page >= 0 && page < 8)
        LabelS_[page]->setVisible(LabelS_[page]->isHidden());
}

void TForm1::Timer2Timer()
{
    const int page = PageControl1->currentIndex();
    if (page >= 0 && page < 8)
        Panel_[page]->setVisible(true);
    Timer2->stop();
}
