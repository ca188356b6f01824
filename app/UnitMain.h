// TForm1: the main window. It owns every control, the relay session (the
// line, the poll cycle and the link state) and the exchanges it polls; its
// handlers raise the exchanges' request flags from the user's actions and
// apply the session's results to the controls.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

#include "app/RegisterMap.h"
#include "app/WriteControls.h"
#include "exchanges/RelayClock.h"
#include "exchanges/ExchangePoller.h"
#include "link/RelaySession.h"
#include "serial/ComPort.h"

class QAction;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QStatusBar;
class QPushButton;
class QTimeEdit;
class QTimer;
class LineReopener;
class SettingsActions;
class TComLed;
class TLedIndicator;
class TPageControl;
class TSpinEdit;
class TrendRecorder;
class TrendWindow;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Any control of the window by its name.
    QWidget* Control(const QString& name) const { return controls_.value(name); }
    template <class T> T* ControlAs(const QString& name) const
    {
        return qobject_cast<T*>(controls_.value(name));
    }

    // The relay session and its link state (the counters, the slave
    // address), and the state of the window's exchanges (PollMode, the
    // request flags, the writes under way).
    RelaySession& Session() { return *session_; }
    const LinkState& Link() const { return session_->State(); }
    ExchangeState& Exchanges() { return exchanges_.State(); }
    const ExchangeState& Exchanges() const { return exchanges_.State(); }

    // The COM port chosen, 1 to 4.
    int32_t ComNumber() const { return comNumber_; }

    // Non-visual parts.
    TComPort* ComPort() const { return comPort_; }   // the session's serial port
    QTimer* Timer() const { return timer_; }         // the session's poll tick
    QTimer* Timer1() const { return timer1_; }       // the PC's clock on page 0
    // The PC's clock is shown once a second. While page 0's replies bring the
    // relay's new seconds it is shown with them, in their repaint, and Timer1
    // waits this much longer than a second for the next one before showing
    // it on its own: a second of the relay's may be seen a reply late.
    static constexpr int kPcClockMs = 1000;
    static constexpr int kPcClockGraceMs = 250;
    QTimer* Timer2() const { return timer2_; }       // shows a page's content again after a page change
    QTimer* Timer3() const { return timer3_; }       // blinks the no-link notice
    QMenu* PopupMenu() const { return popupMenu_; }  // the port menu
    TPageControl* PageControl1() const { return pageControl1_; }

    // The device COM1 opens instead of its mapping (the command line's
    // --port); empty for the mapping.
    void SetCom1Path(const QString& path);

    // Start-up, port choice and connection.
    void FormShow();
    void Timer1Timer();
    void NClick(QAction* item);
    void ButtonCOMClick();
    void SEAddresKeyDown(int key);
    void OpenComPort();
    void CloseComPort();
    void FormDestroy();

    // The poll cycle's events, carried out by the session.
    void TimerTimer();
    void Receive(QObject* Sender, int Count);
    void Timer2Timer();
    void Timer3Timer();

    // Page switching.
    void PageControl1Changing(int leavingIndex);
    void PageControl1Change(int shownIndex);
    bool LinkPresent() const;

    // What each exchange's reply shows.
    void ReadParamReceive(const RegisterValues& reply);
    // Page 0's value fields look doubtful (greyed, italic): what the relay
    // last showed, while values read now may be another master's.
    void ShowDoubtful(bool doubtful);
    bool ShowsDoubtful() const { return doubtfulShown_; }
    void ReadUstNastReceive(const RegisterValues& reply);
    void ReadProtokolReceive(const RegisterValues& reply);
    void ReadMaskReceive(const RegisterValues& reply);
    // A write ended: the edited mark of the setting it carried.
    void WriteUstReceive(const WriteResult& result);

    // Editing and writing a setting: the handlers shared by the 36 spin edits
    // and the four selection boxes of pages 1 and 2.
    void SE0Change(QObject* Sender);
    void SE0KeyDown(QObject* Sender, int Key);
    void SE0Exit(QObject* Sender);
    void CB1Change(QObject* Sender);
    void CB1KeyDown(QObject* Sender, int Key);
    void CB1Exit(QObject* Sender);

    // Event records and their report files.
    void ButtonP1Click(QObject* Sender);

    // Protection masks.
    void M1CB1Click(QObject* Sender);
    void ButtonM1Click();
    void ButtonM2Click();
    void ButtonM3Click();

    // The relay's clock.
    void DPickerChange(QObject* Sender);
    void ButtonSysClick(QObject* Sender);

    // The PC's local clock; tests put another in its place.
    QDateTime Now() const { return now_(); }
    void SetNow(std::function<QDateTime()> now) { now_ = std::move(now); }

    // The register map: every page's register controls, bound to their widgets.
    const RegisterMap& Registers() const { return registers_; }

    // The line the session talks over: the serial port unless a test puts
    // another one in its place.
    void SetLine(ILinePort* line)
    {
        session_->SetLineTiming(LineTimingFromEnvironment(SessionOptions::Timing::Auto));
        session_->SetLine(line);
    }

    // A load from a file has written settings. `readBack`: the relay's
    // settings were read after it; else the settings pages' values may no
    // longer be what the relay holds: they take the no-link look until the
    // link is back, and are read afresh then.
    void SettingsWritten(bool readBack);

    // The trend history and the motor starts kept from the polled values,
    // and the trend window ("Тренды", Ctrl+T and page 0's context menu),
    // made when first opened.
    TrendRecorder& Trends() { return *trends_; }
    TrendWindow* OpenTrends();
    TrendWindow* TrendsWindow() const { return trendWindow_; }

    // A watching station: no write of any kind can be made, every write
    // control looks disabled, the title and the status bar say so, and a
    // line that goes away is opened again by itself. Set once, before the
    // port is opened.
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return readOnly_; }

    // The device went away under an open port: said once, and the port is
    // closed; a watching station says it in the status bar and opens the
    // port again by itself until it opens or the user closes it.
    void ComPortLost(int osError, const QString& reason);

    // What the write controls' look is decided from (WriteControls.h).
    WriteConditions WritingConditions() const;

    // The status bar's message.
    void ShowStatus(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void bindControls();
    void wireHandlers();
    void wireSession();
    void setAutoPopup(bool on) { autoPopup_ = on; }
    void wireSettingEditors();
    void clearCurrentParams();
    // The PC's clock on page 0, as of `now`; a label that would not change is
    // left alone.
    void showPcClock(const QDateTime& now);
    // The value fields and the relay's and the PC's clocks paint the page's fill behind them.
    void fillPaneBehindLiveControls();
    void resetPage(int index);
    void askForPage(int index);
    void blockRead(const RegisterValues& reply);
    void requestSent(const SentRequest& sent);
    void ShowLinkLost();
    void ShowLinkPresent();
    // No control keeps the keyboard focus; the one that had it runs its exit
    // handler and range check.
    void clearActiveControl();
    bool portOpen() const;
    void showPage(int index);
    // Enables the controls that depend on a control just filled from a reply.
    void applyEnableRules(int page, const std::vector<const BoundControl*>& filled);
    // A mask's controls by its register: all of them, its bit text, its Ok.
    std::vector<const BoundControl*> maskControls(int reg) const;
    QLineEdit* maskEdit(int reg) const;
    QPushButton* maskOk(int reg) const;
    // The mask leaves editing: Ok hidden, its edit and boxes follow the relay.
    void followRelay(int reg);
    void confirmMask(int reg);
    void wireMasksAndClock();
    void chooseSettingsBlock(uint8_t context);
    void wireTrends();
    // The write controls' look, from the line, the link, the mode and the
    // clock under edit (WriteControls.h); called whenever one of them changes.
    void applyWriteControls();
    void makeStatusBar();
    // Opens the chosen port and starts polling; on failure nothing changes
    // and the reason is returned for the message.
    std::optional<QString> openLine();
    // A watching station's lost port: the open look stays, the no-link
    // notice blinks, and the reopener tries the port again and again.
    void wireReopener();
    void startReopening(const QString& why);
    bool reopenLine(QString* why);

    ExchangePoller exchanges_;   // the session's polled requests; outlives the session
    RelaySession* session_ = nullptr;
    SettingsActions* settingsActions_ = nullptr;   // settings files, sheet and journal of the pages 1 and 2
    QHash<QString, QWidget*> controls_;
    RegisterMap registers_;
    QObject* confirmedSetting_ = nullptr;   // the control whose value the setting write carries
    std::function<QDateTime()> now_ = [] { return QDateTime::currentDateTime(); };
    int32_t comNumber_ = 0;
    TComPort* comPort_ = nullptr;
    QTimer* timer_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* timer2_ = nullptr;
    QTimer* timer3_ = nullptr;
    QMenu* popupMenu_ = nullptr;
    TPageControl* pageControl1_ = nullptr;
    QStatusBar* statusBar_ = nullptr;
    LineReopener* reopener_ = nullptr;
    QString com1Path_;
    QAction* N_[4] = {};
    QLineEdit* E_[13] = {};
    TLedIndicator* L_[15] = {};
    QLabel* LabelS_[8] = {};
    QWidget* Panel_[8] = {};
    QDateEdit* DPicker = nullptr;
    QTimeEdit* TPicker = nullptr;
    QPushButton* ButtonSys = nullptr;
    QPushButton* ButtonDT = nullptr;
    QPushButton* ButtonCOM = nullptr;
    QLabel* LabelNum = nullptr;
    QLabel* LabelDT = nullptr;
    TSpinEdit* SEAddres = nullptr;
    TComLed* ComLed = nullptr;

    TrendRecorder* trends_ = nullptr;
    TrendWindow* trendWindow_ = nullptr;
    RelayClockFields relayClockShown_;   // the relay's clock as the last page 0 reply had it
    bool doubtfulShown_ = false;
    bool readOnly_ = false;
    bool clockEdited_ = false;   // the pickers hold the user's moment, not yet written ("ButtonDT")
    int maskUnderEdit_ = -1;     // the register of the mask whose Ok waits, -1 for none
    bool linkWasLost_ = false;   // the no-link look was shown since the port opened
    bool settingsUnknown_ = false;   // a load left the settings pages unknown: read them when the link is back
    bool autoPopup_ = true;
    bool shownOnce_ = false;
    bool destroying_ = false;
};
