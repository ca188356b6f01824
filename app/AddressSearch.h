// The search for the relay's address from the address field's context menu
// ("Найти адрес реле…"): every address from 1 to 247 is asked, one after
// another, for the relay's address register with a short time-out, while a
// progress dialog shows how far it has come and can stop it. The addresses
// that answered are listed; the field, and the address the window talks to,
// take the first of them.
//
// An address holds a device only when it answered twice, the second time
// on a line quiet since the first answer (AddressProbe, as the companion's
// scan). Each probe is asked as the one before it ends, queued behind any question
// asked before it, so the polled exchanges wait behind the search (the
// session asks its questions first) and go on by themselves once it is
// over. An address asked in vain counts no miss of the link; one that
// refuses the read holds a device. The port must be open.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <vector>

class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;
class AddressProbe;
class RelaySession;
class TSpinEdit;
struct Answer;

class AddressSearch : public QObject {
    Q_OBJECT
public:
    // Offers the search in `field`'s context menu; the dialog belongs to `window`.
    AddressSearch(RelaySession& session, TSpinEdit* field, QWidget* window);
    ~AddressSearch() override;

    // Starts a search; false when the port is not open or one is running.
    bool Start();
    // Stops asking; what was found so far is kept and taken.
    void Stop();
    bool Running() const { return running_; }

    // The progress dialog (shown while the search runs, and after it with
    // its outcome until closed), its text and its one button (stop, then
    // close); and the addresses that answered.
    QDialog* Dialog() const { return dialog_; }
    QLabel* Status() const { return status_; }
    QPushButton* Button() const { return button_; }
    const std::vector<int>& Found() const { return found_; }

    static constexpr int kFirstAddress = 1;
    static constexpr int kLastAddress = 247;
    // Long enough for a relay's reply to one register at 9600 baud, short
    // enough that the whole range takes well under a minute.
    static constexpr int kProbeTimeoutMs = 100;

signals:
    void finished();

private:
    void showMenu(const QPoint& at);
    void askNext();
    void probed(const Answer& answer, bool found);
    void finish();
    void showProgress();
    void makeDialog();

    RelaySession& session_;
    TSpinEdit* field_;
    QWidget* window_;
    // Shown without a local event loop of its own: the search goes on in
    // the window's loop, driven by the session's answers.
    QPointer<QDialog> dialog_;
    QLabel* status_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* button_ = nullptr;
    std::vector<int> found_;
    int next_ = kFirstAddress;
    int asked_ = 0;            // the address last asked
    AddressProbe* probe_;      // asks each address: answered twice, the second time on a quiet line
    bool running_ = false;
};
