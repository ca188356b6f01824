// SIGINT, SIGTERM and SIGHUP caught for a command that talks to a relay, so
// that it ends promptly and in its own words: the handler only notes the
// signal and wakes the event loop through a pipe; the command learns of it
// there (caught) and ends what it does, with its summary, and the program
// ends with the status a shell shows for the signal.
#pragma once

#include <QObject>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT
public:
    // Catches the three signals until destroyed; the earlier handlers come back then.
    StopSignals();
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The one alive, or null.
    static StopSignals* Current();

    // The first signal caught, 0 while none came.
    int First() const;
    // A command that ends its own way on a signal takes it over from the
    // link's default (the question under way given up at once).
    static void TakeOver(bool own);
    static bool TakenOver();

    // Signals taken by the event loop so far.
    int Count() const { return seen_; }

    // "SIGINT", "SIGTERM", "SIGHUP".
    static QString Name(int signal);
    // The exit code of a program ended by `signal`, as a shell shows it.
    static int ExitCode(int signal);

signals:
    // In the event loop, once per signal; `count` is 1 for the first.
    void caught(int signal, int count);

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
    int seen_ = 0;   // signals taken from the pipe
};
