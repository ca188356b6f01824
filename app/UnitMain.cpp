#include "app/UnitMain.h"

#include <algorithm>
#include <utility>

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
#include <QStatusBar>
#include <QTimeEdit>
#include <QTimer>

#include "app/AddressSearch.h"
#include "app/LineReopener.h"
#include "app/ComLed.h"
#include "app/ComboBox.h"
#include "app/Fonts.h"
#include "app/LedIndicator.h"
#include "app/LineLamp.h"
#include "app/OtherMasterNotice.h"
#include "exchanges/LocaleFormats.h"
#include "app/MessageBoxes.h"
#include "app/PageControl.h"
#include "app/PaneFill.h"
#include "serial/PortMessages.h"
#include "app/SpinEdit.h"
#include "app/WindowLayout.h"
#include "app/settings/SettingsActions.h"
#include "history/TrendRecorder.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/SetpointsConfig.h"
#include "exchanges/Masks.h"
#include "exchanges/PollModes.h"

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
    : QWidget(parent)
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
    pageControl1_ = built.PageControl1;
    popupMenu_ = built.PopupMenu;
    for (int i = 0; i < 4; ++i)
        N_[i] = built.N[i];

    SessionOptions options;
    options.lineTiming = LineTimingFromEnvironment(options.lineTiming);
    session_ = new RelaySession(options, this);
    session_->SetPolledRequests(&exchanges_);
    comPort_ = session_->Port();
    timer_ = session_->PollTimer();
    timer1_ = makeTimer(this, "Timer1", kPcClockMs, Qt::CoarseTimer);
    timer2_ = makeTimer(this, "Timer2", 250, Qt::CoarseTimer);
    timer3_ = makeTimer(this, "Timer3", 500, Qt::CoarseTimer);

    makeStatusBar();
    bindControls();
    wireHandlers();
    wireSession();
    settingsActions_ = new SettingsActions(this);
    wireReopener();
    FollowSessionLine(ComLed, session_);
    new AddressSearch(*session_, SEAddres, this);
    wireTrends();
    timer1_->start();
}

TForm1::~TForm1()
{
    reopener_->Stop();
    FormDestroy();
    destroying_ = true;
    // The controls go after this destructor: the one with the focus leaves it
    // now, while the window can still run its exit handler, and none of them
    // calls a handler of this window afterwards.
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    for (QObject* child : findChildren<QObject*>())
        QObject::disconnect(child, nullptr, this, nullptr);
    // Nothing of the window may be called back while the session and its
    // port go: unhook them, then let the port close its device.
    ComLed->SetComPort(nullptr);
    delete session_;
    session_ = nullptr;
    comPort_ = nullptr;
    timer_ = nullptr;
}

void TForm1::makeStatusBar()
{
    // Below the pages: what the window has just done or is waiting for, and
    // in a watching station its mark.
    constexpr int kStatusBarHeight = 20;
    statusBar_ = new QStatusBar(this);
    statusBar_->setObjectName(QStringLiteral("StatusBar"));
    statusBar_->setSizeGripEnabled(false);
    statusBar_->setFont(RoleFont(FontRole::Caption));
    statusBar_->setGeometry(0, height(), width(), kStatusBarHeight);
    setFixedSize(width(), height() + kStatusBarHeight);
}

void TForm1::ShowStatus(const QString& text)
{
    statusBar_->showMessage(text);
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
    ComLed->SetComPort(comPort_);
    fillPaneBehindLiveControls();
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
    connect(timer1_, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(timer2_, &QTimer::timeout, this, &TForm1::Timer2Timer);
    connect(timer3_, &QTimer::timeout, this, &TForm1::Timer3Timer);
    connect(ButtonCOM, &QPushButton::clicked, this, [this] { ButtonCOMClick(); });
    for (QAction* item : N_)
        connect(item, &QAction::triggered, this, [this, item] { NClick(item); });
    LabelNum->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(LabelNum, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (autoPopup_)
            popupMenu_->popup(LabelNum->mapToGlobal(at));
    });
    SEAddres->installEventFilter(this);
    connect(pageControl1_, &TPageControl::changing, this, &TForm1::PageControl1Changing);
    connect(pageControl1_, &TPageControl::changed, this, &TForm1::PageControl1Change);
    wireSettingEditors();
    wireMasksAndClock();
}

void TForm1::wireSession()
{
    connect(session_, &RelaySession::blockRead, this, &TForm1::blockRead);
    connect(session_, &RelaySession::writeEnded, this, &TForm1::WriteUstReceive);
    connect(session_, &RelaySession::requestSent, this, &TForm1::requestSent);
    connect(session_, &RelaySession::linkLookChanged, this,
            [this](bool present) { present ? ShowLinkPresent() : ShowLinkLost(); });
    connect(session_, &RelaySession::closeDue, this, &TForm1::CloseComPort);
    connect(session_, &RelaySession::lineLost, this, &TForm1::ComPortLost);
    ShowOtherMasterNotice(this, session_);
    // The settings exchange reads its block by the page shown.
    connect(pageControl1_, &QTabWidget::currentChanged, this, &TForm1::showPage);
    showPage(pageControl1_->currentIndex());
}

void TForm1::SetCom1Path(const QString& path)
{
    com1Path_ = path;
    // The port menu names, as each item's tip, the device it opens.
    static const char* const kTipProperty = "com1PathTip";
    if (!popupMenu_->property(kTipProperty).toBool()) {
        popupMenu_->setProperty(kTipProperty, true);
        connect(popupMenu_, &QMenu::aboutToShow, this, [this] {
            if (!com1Path_.isEmpty())
                N_[0]->setToolTip(com1Path_);
        });
    }
    if (!com1Path_.isEmpty())
        N_[0]->setToolTip(com1Path_);
}

void TForm1::showPage(int index)
{
    exchanges_.SetView(PollView{index == kSetpointsPage});
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == SEAddres && event->type() == QEvent::KeyPress)
        SEAddresKeyDown(static_cast<QKeyEvent*>(event)->key());
    return QWidget::eventFilter(watched, event);
}

void TForm1::fillPaneBehindLiveControls()
{
    // The value fields, the relay's clock and the PC's change with the replies
    // and each second. Each fills its whole rectangle with the page's fill
    // (the style leaves the corners of their rounded frames to what lies
    // behind), so a change repaints that control alone and not the page,
    // frame and tab behind it as well.
    for (QLineEdit* field : E_)
        PaintPaneFillBehind(field, pageControl1_);
    for (QWidget* clock : std::initializer_list<QWidget*>{DPicker, TPicker, LabelDT})
        PaintPaneFillBehind(clock, pageControl1_);
}

void TForm1::changeEvent(QEvent* event)
{
    if (LabelDT && (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange))
        fillPaneBehindLiveControls();
    QWidget::changeEvent(event);
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
    comNumber_ = 1;
    for (int i = 0; i < 4; ++i)
        N_[i]->setChecked(i == 0);
    session_->SetSlaveAddress(1);
    clearCurrentParams();
    pageControl1_->SelectFromCode(0);
    applyWriteControls();
}

void TForm1::clearCurrentParams()
{
    for (QLineEdit* e : E_)
        e->clear();
}

void TForm1::Timer1Timer()
{
    // Once a second; a second on its own again after page 0's replies stop.
    timer1_->setInterval(kPcClockMs);
    showPcClock(Now());
}

void TForm1::showPcClock(const QDateTime& now)
{
    const QString text = LocalDateTimeText(now);
    if (LabelDT->text() != text)
        LabelDT->setText(text);
}

void TForm1::NClick(QAction* item)
{
    int32_t& number = comNumber_;
    if (number >= 1 && number <= 4)
        N_[number - 1]->setChecked(false);
    for (int i = 0; i < 4; ++i)
        if (N_[i] == item) {
            item->setChecked(true);
            number = i + 1;
        }
}

void TForm1::SEAddresKeyDown(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        session_->SetSlaveAddress(SEAddres->Value());
}

void TForm1::ButtonCOMClick()
{
    // The user decides from here: no more tries to open a lost port, and
    // the next loss begins again with the first pause.
    const bool reopening = reopener_->Active();
    reopener_->Stop();
    if (ButtonCOM->text() == kOpen) {
        session_->SetSlaveAddress(SEAddres->Value());
        OpenComPort();
    } else if (reopening) {
        // The port is closed already, waiting to be opened again.
        CloseComPort();
        ShowStatus(QStringLiteral("Порт закрыт"));
    } else {
        session_->RequestClose();
    }
}

void TForm1::OpenComPort()
{
    if (const std::optional<QString> failure = openLine())
        ShowErrorMessage(this, {kPortErrorCaption, QStringLiteral("Не могу открыть СОМ порт"), *failure});
}

std::optional<QString> TForm1::openLine()
{
    const int number = comNumber_;
    // Polling starts with page 0's values; a port that does not open leaves
    // the exchange as it was.
    const int32_t pollMode = std::exchange(Exchanges().PollMode, int32_t(pmReadParam));
    try {
        session_->SetLineTiming(LineTimingFromEnvironment(SessionOptions::Timing::Auto));
        session_->Open(number == 1 && !com1Path_.isEmpty() ? com1Path_ : QStringLiteral("COM%1").arg(number));
    } catch (const EComPort& e) {
        Exchanges().PollMode = pollMode;
        return PortFailureDetail(session_->DevicePath(), e.OsErrorCode, QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
        Exchanges().PollMode = pollMode;
        return PortFailureDetail(session_->DevicePath(), 0, QString::fromUtf8(e.what()));
    }
    ButtonCOM->setText(kClose);
    setAutoPopup(false);
    LabelNum->setText(QStringLiteral("COM %1").arg(number));
    for (int reg : kMaskRegisters)
        followRelay(reg);
    applyWriteControls();
    return std::nullopt;
}

void TForm1::CloseComPort()
{
    session_->Close();
    trends_->Break();
    linkWasLost_ = false;
    clockEdited_ = false;
    ButtonCOM->setText(kOpen);
    LabelNum->setText(QStringLiteral("COM-порт"));
    setAutoPopup(true);
    applyWriteControls();
    clearCurrentParams();
    for (TLedIndicator* led : L_)
        led->SetChecked(false);
    timer3_->stop();
    for (QLabel* notice : LabelS_)
        notice->setVisible(false);
}

void TForm1::ComPortLost(int osError, const QString& reason)
{
    if (destroying_ || !session_->IsOpen())
        return;   // already closed: one message per loss
    const QString path = session_->DevicePath();
    CloseComPort();
    const QString detail = PortFailureDetail(path, osError, reason);
    if (readOnly_) {
        startReopening(detail);
        return;
    }
    ShowErrorMessage(this, {kPortErrorCaption, QStringLiteral("Связь с СОМ портом потеряна"), detail});
}

void TForm1::FormDestroy()
{
    session_->RequestClose();
}

// ---- the poll cycle ---------------------------------------------------------

void TForm1::TimerTimer()
{
    session_->Tick();
}

void TForm1::Receive(QObject* /*Sender*/, int Count)
{
    session_->Receive(Count);
}

void TForm1::blockRead(const RegisterValues& reply)
{
    reopener_->Settled();   // the relay answers on the line
    // Decoded by the exchange whose request it answers, and only a block
    // that exchange reads (a question's answer is for whoever asked it).
    const Exchange* exchange = FindExchange(reply.mode);
    if (!exchange || std::find(exchange->blocks.begin(), exchange->blocks.end(), reply.block) == exchange->blocks.end())
        return;
    static const struct {
        TPollMode mode;
        void (TForm1::*decode)(const RegisterValues&);
    } decoders[] = {
        {pmReadParam, &TForm1::ReadParamReceive},
        {pmReadUstNast, &TForm1::ReadUstNastReceive},
        {pmReadProtokol, &TForm1::ReadProtokolReceive},
        {pmReadMask, &TForm1::ReadMaskReceive},
    };
    for (const auto& d : decoders)
        if (d.mode == reply.mode)
            (this->*d.decode)(reply);
}

namespace {
bool IsSettingsPage(int page)
{
    return page == kSetpointsPage || page == kConfigurationPage;
}
}  // namespace

void TForm1::ShowLinkLost()
{
    linkWasLost_ = true;
    trends_->Break();
    if (!timer3_->isActive())
        timer3_->start();
    clockEdited_ = false;
    applyWriteControls();
}

void TForm1::ShowLinkPresent()
{
    timer3_->stop();
    for (QLabel* notice : LabelS_)
        notice->setVisible(false);
    applyWriteControls();
    if (portOpen()) {
        // The link is back: the page shown asks for its read as if it had
        // just been entered, so a page emptied meanwhile fills again. It is
        // not blanked: a value the user is typing stays where it is.
        const int page = pageControl1_->currentIndex();
        if (linkWasLost_ || (settingsUnknown_ && IsSettingsPage(page)))
            askForPage(page);
        settingsUnknown_ = false;
    }
    linkWasLost_ = false;
}

void TForm1::SettingsWritten(bool readBack)
{
    const int page = pageControl1_->currentIndex();
    if (readBack && LinkPresent()) {
        if (IsSettingsPage(page))
            askForPage(page);
        return;
    }
    // Some writes may have landed: what the pages show is no longer known
    // to be the relay's, and looks as without a link.
    resetPage(kSetpointsPage);
    resetPage(kConfigurationPage);
    settingsUnknown_ = true;
}

void TForm1::Timer3Timer()
{
    const int page = pageControl1_->currentIndex();
    if (page >= 0 && page < 8)
        LabelS_[page]->setVisible(LabelS_[page]->isHidden());
}

void TForm1::Timer2Timer()
{
    const int page = pageControl1_->currentIndex();
    if (page >= 0 && page < 8)
        Panel_[page]->setVisible(true);
    timer2_->stop();
}
