// The watcher of an open device: waits for input and for the device going
// away, on the port's own thread (the window's), through the thread's event
// loop. No thread of its own and no hand-over between threads: the event
// loop wakes once per burst of input and the handler runs right there, so a
// character-received event never overlaps other window code.
//
// The event loop watches an epoll set that holds the device, not the device
// itself: looking away and back (a hold, a back-off) changes what the set
// asks of the device, and leaves the event loop's own set of descriptors
// alone. Changing that set wakes the loop through its eventfd each time;
// the set of our own costs one call and no turn of the loop. The set also
// holds a timer that ends a look-away to the microsecond: the event loop's
// own timers wake up to a millisecond late.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>
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
    // Stops looking at the device for `time`, then looks again; bytes that
    // came meanwhile are handed on as the look-away ends.
    void Hold(std::chrono::nanoseconds time);

    // Times the event loop woke this watcher: a spin detector for the tests.
    quint64 WakeUps() const { return wakeUps_; }

    ~RxWatch() override;

private:
    void onActivated();
    // Hands `waiting` bytes on to the handler, or backs off when nobody took them.
    void deliver(int waiting);
    void backOff();
    void resume();
    void lose(int osError);
    // Whether the epoll set wakes the event loop for input (a hang-up or an
    // error wakes it either way). False when the set cannot be changed.
    bool look(bool input);
    // Disarms the look-away's timer and forgets an end it had reached.
    void stopHoldTimer();

    Handlers handlers_;
    QSocketNotifier notifier_;
    QTimer backoffTimer_;
    int fd_ = -1;
    int epollFd_ = -1;             // the set the notifier watches; holds fd_ while it is watched
    int holdFd_ = -1;              // the look-away's timer, in the set; -1 when there is none
    bool holding_ = false;         // looking away until holdFd_ expires
    bool direct_ = false;          // no set for this device: the notifier watches it itself
    bool input_ = false;           // the watch wakes for input now (not looking away)
    bool watchRx_ = true;
    int backoffMs_ = 0;
    bool gone_ = false;            // the device went away: quiet until Stop
    quint64 session_ = 0;          // one per Start, to tell a reopen inside a handler
    bool delivering_ = false;      // a handler is running
    bool pausedInside_ = false;    // a handler ran an event loop: the notifier waits for it
    quint64 wakeUps_ = 0;
};
