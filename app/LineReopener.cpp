#include "app/LineReopener.h"

#include <QTimer>

#include <algorithm>

int LineReopener::PauseMs(int attempt)
{
    int pause = kFirstPauseMs;
    for (int i = 0; i < attempt && pause < kLongestPauseMs; ++i)
        pause *= 2;
    return std::min(pause, kLongestPauseMs);
}

LineReopener::LineReopener(std::function<bool(QString* why)> tryOpen, QObject* parent)
    : QObject(parent), tryOpen_(std::move(tryOpen))
{
    setObjectName(QStringLiteral("LineReopener"));
    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("ReopenTimer"));
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &LineReopener::tryNow);
}

void LineReopener::Start(const QString& why)
{
    wait(why);
}

void LineReopener::Stop()
{
    timer_->stop();
    attempt_ = 0;
}

bool LineReopener::Active() const
{
    return timer_->isActive();
}

void LineReopener::wait(const QString& why)
{
    const int pause = PauseMs(attempt_);
    timer_->start(pause);
    emit waiting(pause, why);
}

void LineReopener::tryNow()
{
    QString why;
    const bool opened = tryOpen_(&why);
    ++attempt_;
    if (opened)
        emit reopened();
    else
        wait(why);
}
