// TForm1: the main window. It owns every control, the serial port, the four
// timers and the link state, and its handlers move values between the relay
// link and the controls.
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "exchanges/RegisterMap.h"
#include "link/LinkState.h"
#include "link/PollCycle.h"
#include "serial/ComPort.h"

class QAction;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimeEdit;
class QTimer;
class TComLed;
class TLedIndicator;
class TPageControl;
class TSpinEdit;
class ComPortLine;

class TForm1 : public QWidget, public LinkState, private PollClient {
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

    // Non-visual parts.
    TComPort* ComPort = nullptr;
    QTimer* Timer = nullptr;    // the 5 ms poll tick
    QTimer* Timer1 = nullptr;   // the PC's clock on page 0
    QTimer* Timer2 = nullptr;   // shows a page's content again after a page change
    QTimer* Timer3 = nullptr;   // blinks the no-link notice
    QMenu* PopupMenu = nullptr;
    TPageControl* PageControl1 = nullptr;

    // Start-up, port choice and connection.
    void FormShow();
    void Timer1Timer();
    void NClick(QAction* item);
    void ButtonCOMClick();
    void SEAddresKeyDown(int key);
    void OpenComPort();
    void CloseComPort() override;
    void FormDestroy();

    // The poll cycle.
    void TimerTimer();
    void Receive(QObject* Sender, int Count);
    void Timer2Timer();
    void Timer3Timer();

    // Page switching.
    void PageControl1Changing(int leavingIndex);
    void PageControl1Change(int shownIndex);
    bool LinkPresent() const;

    // Current parameters.
    void ReadParamTimer();
    void ReadParamReceive(const SentRequest& sent);

    // Setpoints and configuration.
    void ReadUstNastTimer();
    void ReadUstNastReceive(const SentRequest& sent);

    // Editing and writing a setting: the handlers shared by the 36 spin edits
    // and the four selection boxes of pages 1 and 2.
    void SE0Change(QObject* Sender);
    void SE0KeyDown(QObject* Sender, int Key);
    void SE0Exit(QObject* Sender);
    void CB1Change(QObject* Sender);
    void CB1KeyDown(QObject* Sender, int Key);
    void CB1Exit(QObject* Sender);
    TSpinEdit* EditedSpinEdit = nullptr;    // the spin edit last confirmed with ENTER
    QComboBox* EditedComboBox = nullptr;    // the selection box that last had a key pressed
    uint8_t WriteUstRegister = 0;
    uint16_t WriteUstValue = 0;

    // Event records and their report files.
    void ReadProtokolTimer();
    void ReadProtokolReceive(const SentRequest& sent);
    void ButtonP1Click(QObject* Sender);

    // Protection masks.
    void ReadMaskTimer();
    void ReadMaskReceive(const SentRequest& sent);
    void M1CB1Click(QObject* Sender);
    void ButtonM1Click();
    void ButtonM2Click();
    void ButtonM3Click();
    uint16_t MaskWriteRegister = 0;
    uint16_t MaskWriteValue = 0;

    // The relay's clock.
    void DPickerChange(QObject* Sender);
    void ButtonSysClick(QObject* Sender);
    QDateTime ClockWriteTime;

    // The PC's local clock; tests put another in its place.
    std::function<QDateTime()> Now = [] { return QDateTime::currentDateTime(); };

    // The write exchange (PollMode pmWriteRegister), by ExchangeContext.
    void WriteUstTimer();
    void WriteUstReceive(const SentRequest& sent, ReplyVerdict verdict);
    void BuildSettingWrite();
    void SettingWriteEnded();
    void BuildMaskWrite();
    void MaskWriteEnded();
    void BuildClockWrite();
    void ClockWriteEchoed();
    void ClockWriteEnded();

    // The register map: every page's register controls, bound to their widgets.
    const RegisterMap& Registers() const { return registers_; }

    // The line the poll cycle talks over: the serial port unless a test
    // puts another one in its place.
    void SetLine(ILinePort* line) { cycle_.SetLine(line); }

    // The device went away under an open port: say so once and close.
    void ComPortLost(int osError, const QString& reason);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // PollClient
    void BuildRequest() override;
    void HandleReadReply(const SentRequest& sent) override;
    void HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict) override;
    void ShowLinkLost() override;
    void ShowLinkPresent() override;

    void bindControls();
    void wireHandlers();
    void setAutoPopup(bool on) { autoPopup_ = on; }
    void wireSettingEditors();
    void clearCurrentParams();
    void resetPage(int index);
    void lineFailed(const EComPort& e);
    // No control keeps the keyboard focus; the one that had it runs its exit
    // handler and range check.
    void clearActiveControl();
    bool portOpen() const;
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
    void pollTimerFired();
    void armPollTimer();
    qint64 tickOfNow() const;
    static int LineTimeMs(int bytes);
    qint64 nextEventNs() const;

    QHash<QString, QWidget*> controls_;
    RegisterMap registers_;
    QObject* confirmedSetting_ = nullptr;   // the control whose value the setting write carries
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

    PollCycle cycle_;
    std::unique_ptr<ComPortLine> portLine_;
    TComLink portLink_;
    static constexpr int kPollTickMs = 5;
    static constexpr int kLongestRxHoldMs = 60;   // well inside the reply time-out
    static constexpr int kShortestRxHoldMs = kPollTickMs;   // a rest due sooner is not waited for
    bool polling_ = false;     // the poll timer runs: the port is open and the line sound
    qint64 armedDueNs_ = 0;    // when the poll timer is set to wake, on tickClock_
    QElapsedTimer tickClock_;  // the 5 ms grid of ticks, from the opening of the port
    qint64 lastTick_ = 0;      // the grid tick last counted
    bool autoPopup_ = true;
    bool shownOnce_ = false;
    bool destroying_ = false;
};
