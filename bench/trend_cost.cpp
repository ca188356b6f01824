// What the trend window costs the window: its CPU while polling with the
// trend window open over a full hour of history, against the same window
// without it, in alternating rounds of one run; the repaint of a full hour;
// and the memory the history takes after 24 hours at twelve samples a second.
//
//   bench_trends [SECONDS]   (default 20 a round)
#include <QApplication>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

#include "PeerMaster.h"
#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "history/TrendRecorder.h"
#include "app/trends/TrendWindow.h"
#include "support/RelaySim.h"

namespace {

constexpr qint64 kHourMs = 3600 * 1000;
constexpr qint64 kStepMs = 83;   // twelve samples a second
constexpr int kRepaints = 40;

void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double RssMb()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            status >> kb;
            return kb / 1024.0;
        }
        status.ignore(1 << 10, '\n');
    }
    return 0;
}

BlockSample Synthetic(qint64 ms, qint64 n)
{
    BlockSample s;
    s.ms = ms;
    for (int r = 50; r <= 52; ++r)
        s.Set(r, uint16_t(90 + (n * 7 + r) % 9));
    s.Set(53, uint16_t(1900 + n % 50));
    s.Set(56, uint16_t(40 + n % 11));
    s.Set(66, 0x0C00);
    return s;
}

void FillHour(TrendHistory& history, qint64 endMs)
{
    qint64 n = 0;
    for (qint64 t = endMs - kHourMs; t < endMs; t += kStepMs)
        history.Add(Synthetic(t, n++));
}

// One polling round: the window on a paced simulator, with or without the
// trend window open over a full hour. Returns the share of one core.
double PollingRound(double seconds, bool trends)
{
    RelaySim sim({"--turnaround-ms", "3"});
    setenv("ZASHCHITA_COM1", sim.path().c_str(), 1);
    TForm1 form;
    form.show();
    if (trends) {
        // The history is the simulator's relay's, so the first reply goes on with it.
        form.Trends().SetRelay(RelayId{QString::fromStdString(sim.path()), 1, {}});
        FillHour(form.Trends().History(), QDateTime::currentMSecsSinceEpoch());
        // The whole hour shown, sliding.
        form.OpenTrends()->findChild<QComboBox*>(QStringLiteral("SpanBox"))->setCurrentIndex(3);
    }
    form.findChild<QPushButton*>(QStringLiteral("ButtonCOM"))->click();
    auto* e0 = form.findChild<QLineEdit*>(QStringLiteral("E0"));
    if (!QTest::qWaitFor([&] { return !e0->text().isEmpty(); }, 10000))
        std::fprintf(stderr, "no reply from the simulator\n");
    runFor(2);
    const double before = SelfCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    runFor(seconds);
    const double share = (SelfCpuSeconds() - before) / (clock.nsecsElapsed() / 1e9);
    form.findChild<QPushButton*>(QStringLiteral("ButtonCOM"))->click();
    (void)QTest::qWaitFor([&] { return !form.ComPort()->Connected(); }, 3000);
    return share;
}

void RepaintOfAnHour()
{
    RelaySim sim({"--turnaround-ms", "3"});
    TForm1 form;
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    FillHour(form.Trends().History(), end);
    TrendWindow* window = form.OpenTrends();
    window->NowMs = [end] { return end; };
    window->resize(1280, 800);
    QTest::qWait(300);
    std::vector<double> ms, lines;
    auto* view = window->findChild<QChartView*>(QStringLiteral("TrendView"));
    for (int n = 0; n < kRepaints; ++n) {
        QElapsedTimer clock;
        clock.start();
        window->ShowSpan(end - kHourMs, end);
        lines.push_back(clock.nsecsElapsed() / 1e6);
        view->viewport()->repaint();
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(lines.begin(), lines.end());
    std::printf("repaint of a full hour (%lld samples a channel, 1280x800): median %.1f ms (of which the lines "
                "%.1f ms), worst %.1f ms (target 16 ms)\n",
                kHourMs / kStepMs, ms[ms.size() / 2], lines[lines.size() / 2], ms.back());
}

void MemoryOfADay()
{
    malloc_trim(0);
    const double before = RssMb();
    TrendHistory history;
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    qint64 n = 0;
    QElapsedTimer clock;
    clock.start();
    for (qint64 t = 0; t < 24 * kHourMs; t += kStepMs)
        history.Add(Synthetic(start + t, n++));
    const double feedS = clock.nsecsElapsed() / 1e9;
    std::printf("24 h at 12 samples/s (%lld samples, fed in %.2f s): %zu at full rate, %zu seconds summarised; "
                "memory grew %.1f MB (bound 40 MB)\n",
                n, feedS, history.FullRateCount(), history.SecondCount(), RssMb() - before);
}

}  // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The histories and the window's settings of the runs stay out of the user's.
    QTemporaryDir home;
    setenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))).constData(), 1);
    setenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))).constData(), 1);
    QApplication app(argc, argv);
    SetErrorMessageHook([](const ErrorMessage& m) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(m.text), qPrintable(m.detail));
    });
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;

    MemoryOfADay();
    RepaintOfAnHour();
    if (std::getenv("BENCH_REPAINT_ONLY"))
        return 0;
    double without = 0, with = 0;
    for (int round = 0; round < 2; ++round) {
        const double a = PollingRound(seconds, false);
        const double b = PollingRound(seconds, true);
        std::printf("round %d: window alone cpu %.2f %%, with the trend window over an hour %.2f %% (%.2fx)\n",
                    round + 1, 100 * a, 100 * b, a > 0 ? b / a : 0);
        std::fflush(stdout);
        without += a;
        with += b;
    }
    std::printf("both rounds: %.2f %% against %.2f %%: %.2fx (target 1.5x)\n", 100 * with / 2, 100 * without / 2,
                without > 0 ? with / without : 0);
    return 0;
}
