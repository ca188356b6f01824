// Opens a lost line again by itself, for a window that watches unattended:
// the first try 1 s after the loss, then after 2, 4, 8 and 16 s, and every
// 30 s from then on, until a try opens the line or the user stops it. A line
// opened again counts as back only once the relay has answered on it: lost
// again before that (a device server that takes the connection and drops
// it), it is tried again after the next longer pause, not after 1 s.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QTimer;

class LineReopener : public QObject {
    Q_OBJECT
public:
    static constexpr int kFirstPauseMs = 1000;
    static constexpr int kLongestPauseMs = 30000;
    // The pause before try `attempt` (0 for the first): doubling from the
    // first pause, never longer than the longest.
    static int PauseMs(int attempt);

    // `tryOpen` opens the line, or says in `why` what kept it closed.
    LineReopener(std::function<bool(QString* why)> tryOpen, QObject* parent);

    // The line was lost: the next try after the pause its turn has.
    void Start(const QString& why);
    // The relay answered: the next loss begins again with the first pause.
    void Settled() { attempt_ = 0; }
    // No more tries (the user closed the line), and the turns begin afresh.
    void Stop();
    bool Active() const;

signals:
    // The next try is due in `pauseMs`; `why` says what kept the line closed.
    void waiting(int pauseMs, const QString& why);
    void reopened();

private:
    void tryNow();
    void wait(const QString& why);

    std::function<bool(QString*)> tryOpen_;
    QTimer* timer_ = nullptr;
    int attempt_ = 0;
};
