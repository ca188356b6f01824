// What one wake-up costs: a process that sleeps in poll() and wakes on its
// timeout, against a Qt window that wakes on a timer and does nothing else.
// Both sleep the same time between wake-ups, one after the other, in rounds,
// so that what else runs on the machine weighs on both alike. Run it beside
// bench_poll's simulators to see the wake-ups of a polling master under load.
//
//   bench_wakeup [PERIOD_MS] [WAKE_UPS] [ROUNDS]   (defaults 28, 400 and 3)
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <poll.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace {

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double PollWakeUpUs(int periodMs, int wakeUps)
{
    const double before = CpuSeconds();
    for (int i = 0; i < wakeUps; ++i)
        ::poll(nullptr, 0, periodMs);
    return (CpuSeconds() - before) / wakeUps * 1e6;
}

double WindowWakeUpUs(QApplication& app, int periodMs, int wakeUps)
{
    constexpr int kSettle = 20;   // a new window's first paints are not a wake-up's cost
    int count = 0;
    double before = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++count == kSettle)
            before = CpuSeconds();
        if (count == kSettle + wakeUps)
            app.quit();
        else
            timer.start(periodMs);
    });
    timer.start(periodMs);
    app.exec();
    return (CpuSeconds() - before) / wakeUps * 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    const int periodMs = argc > 1 ? std::atoi(argv[1]) : 28;
    const int wakeUps = argc > 2 ? std::atoi(argv[2]) : 400;
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    QApplication app(argc, argv);
    QWidget window;
    window.resize(800, 600);
    window.show();
    std::printf("one wake-up every %d ms, %d a round, CPU per wake-up in microseconds\n", periodMs, wakeUps);
    for (int r = 0; r < rounds; ++r) {
        const double bare = PollWakeUpUs(periodMs, wakeUps);
        const double window = WindowWakeUpUs(app, periodMs, wakeUps);
        std::printf("round %d: poll() %.1f, Qt window %.1f, ratio %.2f\n", r + 1, bare, window, window / bare);
    }
    return 0;
}
