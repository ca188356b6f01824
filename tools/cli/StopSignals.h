// SIGINT and SIGTERM caught for a command that must not die half-way (a load
// making its writes): the command learns of the first at its next step and
// may end the question under way on the second, from the event loop.
#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;

class StopSignals : public QObject {
public:
    // Catches both signals until destroyed; the earlier handlers come back then.
    StopSignals();
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The first signal caught, 0 while none came.
    int First() const;
    // Runs in the event loop for every signal after the first.
    void OnRepeat(std::function<void()> repeat) { repeat_ = std::move(repeat); }

    // "SIGINT", "SIGTERM".
    static QString Name(int signal);
    // The exit code of a program ended by `signal`, as a shell shows it.
    static int ExitCode(int signal);

private:
    void drain();

    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> repeat_;
    int seen_ = 0;   // signals taken from the pipe
};
