// The watcher of an open device: waits for input and for the device going
// away, on the port's own thread (the window's), through the thread's event
// loop. No thread of its own and no hand-over between threads: the event
// loop wakes once per burst of input and the handler runs right there, so a
// character-received event never overlaps other window code.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <functional>

class RxWatch : public QObject {
public:
    // What the port does with a wake-up that found `waiting` bytes.
    enum Outcome {
        rxTaken,     // something was read (or the port was closed meanwhile)
        rxLeft,      // nobody read: the same bytes are still waiting
    };
    struct Handlers {
        std::function<Outcome(int waiting)> rxChar;
        std::function<void(int osError)> lost;   // the device went away; told once
    };

    RxWatch(QObject* owner, Handlers handlers);

    // Starts watching fd; watchRx false still watches for the device going
    // away, and leaves input alone.
    void Start(int fd, bool watchRx);
    // Stops at once: nothing is handed on after it returns.
    void Stop();
    bool Watching() const { return fd_ >= 0; }
    // Stops looking at the device for `ms`, then looks again.
    void Hold(int ms);

    // Times the event loop woke this watcher: a spin detector for the tests.
    quint64 WakeUps() const { return wakeUps_; }

private:
    void onActivated();
    void backOff();
    void resume();
    void lose(int osError);

    Handlers handlers_;
    QSocketNotifier notifier_;
    QTimer backoffTimer_;
    int fd_ = -1;
    bool watchRx_ = true;
    int backoffMs_ = 0;
    bool gone_ = false;            // the device went away: quiet until Stop
    quint64 session_ = 0;          // one per Start, to tell a reopen inside a handler
    bool delivering_ = false;      // a handler is running
    bool pausedInside_ = false;    // a handler ran an event loop: the notifier waits for it
    quint64 wakeUps_ = 0;
};
