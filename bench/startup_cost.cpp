// What a day's trend history on disk costs the window at start-up: the
// time from the program's start until its window shows with the history of
// the relay polled last read back, and the memory it then holds (VmHWM),
// with a full 24 hours kept beside none, in alternating runs of fresh
// processes; and the time the window stands while it writes such a history
// anew (once it has doubled by appending).
//
//   bench_startup [RUNS]   (default 5 of each)
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "app/trends/TrendSettings.h"
#include "history/HistoryFile.h"
#include "history/TrendRecorder.h"

namespace {

constexpr qint64 kDayMs = 24 * 3600 * 1000LL;
constexpr qint64 kStepMs = 83;   // twelve samples a second
const RelayId kRelay{QStringLiteral("/dev/ttyUSB0"), 1, {}};

double StatusMb(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == field) {
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

// The child: the window as the program starts it, shown once.
int Child()
{
    QElapsedTimer clock;
    clock.start();
    int argc = 1;
    char name[] = "bench_startup";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    SetErrorMessageHook([](const ErrorMessage& m) { std::fprintf(stderr, "%s\n", qPrintable(m.text)); });
    TForm1 form;
    form.show();
    QCoreApplication::processEvents();
    const TrendHistory& history = form.Trends().History();
    std::printf("%lld %.1f %zu\n", clock.elapsed(), StatusMb("VmHWM:"), history.FullRate().size() + history.Seconds().size());
    std::fflush(stdout);
    return 0;
}

struct Run {
    double wallMs = 0, insideMs = 0, hwmMb = 0;
    long records = 0;
};

Run StartOnce(const QString& program, const QString& home)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    child.start(program, {QStringLiteral("--child")});
    child.waitForFinished(60000);
    Run run;
    run.wallMs = clock.nsecsElapsed() / 1e6;
    const QList<QByteArray> fields = child.readAllStandardOutput().simplified().split(' ');
    if (fields.size() == 3) {
        run.insideMs = fields[0].toDouble();
        run.hwmMb = fields[1].toDouble();
        run.records = fields[2].toLong();
    }
    return run;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--child")
        return Child();
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir empty, full;

    // Both remember the relay as polled last; only one has its day on disk.
    for (const QTemporaryDir* home : {&empty, &full}) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home->filePath(QStringLiteral("config"))));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home->filePath(QStringLiteral("config")));
        SetLastRelay(kRelay);
    }
    TrendHistory day;
    const QString path = HistoryFile::PathFor(full.filePath(QStringLiteral("data/zashchita/history")), kRelay);
    HistoryFile file(path, kRelay);
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    qint64 n = 0;
    for (qint64 t = end - kDayMs - 3600'000; t < end; t += kStepMs)
        day.Add(Synthetic(t, n++));
    file.Append(day.FullRate().back());   // a new file is written whole
    std::ofstream("/proc/self/clear_refs") << "5";   // VmHWM from here
    const double rssBefore = StatusMb("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    QString reason;
    if (!file.Flush(day, &reason))
        std::fprintf(stderr, "the history could not be written: %s\n", qPrintable(reason));
    const double madeMs = clock.nsecsElapsed() / 1e6;
    file.Settle();
    const double writtenMs = clock.nsecsElapsed() / 1e6 - madeMs;
    if (!file.Flush(day, &reason, true))
        std::fprintf(stderr, "the history could not be written: %s\n", qPrintable(reason));
    std::printf("a day's history (%zu samples at full rate, %zu seconds summarised): %.1f MB on disk; a copy made in "
                "%.0f ms (the window waits for this), written and synced in %.0f ms on a thread of its own, "
                "at most %.1f MB more meanwhile\n",
                day.FullRate().size(), day.Seconds().size(), QFile(path).size() / 1048576.0, madeMs, writtenMs,
                StatusMb("VmHWM:") - rssBefore);

    std::vector<double> wall[2], inside[2], hwm[2];
    long records[2] = {};
    for (int r = 0; r < runs; ++r)
        for (int k = 0; k < 2; ++k) {
            const Run run = StartOnce(QString::fromLocal8Bit(argv[0]), (k ? full : empty).path());
            wall[k].push_back(run.wallMs);
            inside[k].push_back(run.insideMs);
            hwm[k].push_back(run.hwmMb);
            records[k] = run.records;
        }
    for (int k = 0; k < 2; ++k)
        std::printf("%s: start-up to the window shown %.0f ms (of which in main %.0f ms), VmHWM %.1f MB, %ld records read "
                    "(medians of %d)\n",
                    k ? "a day's history" : "no history", Median(wall[k]), Median(inside[k]), Median(hwm[k]), records[k],
                    runs);
    std::printf("the day costs: %+.0f ms at start-up (target at most 1000 ms more), %+.1f MB (bound 40 MB)\n",
                Median(wall[1]) - Median(wall[0]), Median(hwm[1]) - Median(hwm[0]));
    return 0;
}
