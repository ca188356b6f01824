// Poll throughput: the window's poll cycle reads page 0 from the relay
// simulator, paced like a 9600-baud line, for a fixed time. Prints exchanges
// per second, the limit the line itself sets for the same frames and
// turnaround, their ratio, and this process's CPU seconds per second.
//
//   bench_poll [SECONDS] [TURNAROUND_MS] [SIMULATOR OPTIONS...]   (defaults 20 and 3)
//
// With --silent among the simulator's options it measures the cost of the
// poll tick and the time-outs alone.
#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "link/LinePort.h"
#include "support/RelaySim.h"

namespace {
// The port as the poll cycle sees it, timing each request's first byte and
// the last byte read before the next request: where an exchange's time goes.
class TimingLine : public ILinePort {
public:
    explicit TimingLine(TComPort* port) : port_(port) {}
    bool IsOpen() const override { return port_->Connected(); }
    void WriteByte(uint8_t b) override
    {
        const auto now = std::chrono::steady_clock::now();
        if (++written_ % kRequestLength == 1 && haveRead_) {
            replyToRequest_ += now - lastRead_;
            requestToReply_ += lastRead_ - lastRequest_;
            ++timed_;
            haveRead_ = false;
        }
        if (written_ % kRequestLength == 1)
            lastRequest_ = now;
        port_->Write(&b, 1);
    }
    bool ReadByte(uint8_t& b) override
    {
        const bool got = port_->Read(&b, 1) == 1;
        lastRead_ = std::chrono::steady_clock::now();
        haveRead_ = true;
        return got;
    }
    int BytesWaiting() override { return port_->BytesWaiting(); }

    void Reset() { timed_ = 0; requestToReply_ = replyToRequest_ = {}; }
    double RequestToReplyMs() const { return ms(requestToReply_); }
    double ReplyToRequestMs() const { return ms(replyToRequest_); }

private:
    double ms(std::chrono::steady_clock::duration d) const
    {
        return timed_ ? std::chrono::duration<double, std::milli>(d).count() / timed_ : 0.0;
    }
    TComPort* port_;
    long written_ = 0;
    long timed_ = 0;
    bool haveRead_ = false;
    std::chrono::steady_clock::time_point lastRequest_, lastRead_;
    std::chrono::steady_clock::duration requestToReply_{}, replyToRequest_{};
};

double cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int countLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return int(f.readAll().count('\n'));
}
}

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const double turnaroundMs = argc > 2 ? std::atof(argv[2]) : 3.0;

    QTemporaryDir dir;
    const QString log = dir.path() + QStringLiteral("/requests.log");
    std::vector<std::string> simArgs{"--turnaround-ms", std::to_string(turnaroundMs), "--log",
                                     log.toStdString()};
    for (int i = 3; i < argc; ++i)   // further simulator options, e.g. --no-pace
        simArgs.push_back(argv[i]);
    const bool silent = std::find(simArgs.begin(), simArgs.end(), "--silent") != simArgs.end();
    RelaySim sim(simArgs);
    setenv("ZASHCHITA_COM1", sim.path().c_str(), 1);
    SetErrorMessageHook([](const ErrorMessage& m) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(m.text), qPrintable(m.detail));
    });

    TForm1 form;
    if (!std::getenv("BENCH_HIDDEN"))
        form.show();
    TimingLine timing(form.ComPort);
    form.SetLine(&timing);
    form.findChild<QPushButton*>(QStringLiteral("ButtonCOM"))->click();
    auto* e0 = form.findChild<QLineEdit*>(QStringLiteral("E0"));
    if (!silent && !QTest::qWaitFor([&] { return !e0->text().isEmpty(); }, 10000)) {
        std::fprintf(stderr, "no reply from the simulator\n");
        return 1;
    }

    // Measure whole exchanges: requests counted on the relay's side.
    timing.Reset();
    const int requestsBefore = countLines(log);
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    // A real event loop: QTest::qWait sleeps between its passes and would
    // delay every hand-over of received bytes.
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuBefore;
    const int requests = countLines(log) - requestsBefore;
    const uint16_t misses = form.MissCount;

    // The line's own limit: request and reply bytes at 10 bits each, plus the turnaround.
    const double byteMs = 10.0 * 1000.0 / 9600.0;
    const double exchangeMs = (8 + 63) * byteMs + turnaroundMs;
    const double limit = 1000.0 / exchangeMs;
    const double rate = requests / elapsed;

    std::printf("duration           %.1f s\n", elapsed);
    std::printf("exchanges          %d (misses now %u)\n", requests, unsigned(misses));
    std::printf("exchanges/s        %.2f\n", rate);
    std::printf("line limit/s       %.2f  (%.2f ms per exchange: 71 bytes + %.1f ms turnaround)\n",
                limit, exchangeMs, turnaroundMs);
    std::printf("ratio              %.3f\n", rate / limit);
    std::printf("request to reply   %.2f ms (first request byte to last reply byte)\n", timing.RequestToReplyMs());
    std::printf("reply to request   %.2f ms (last reply byte to next request)\n", timing.ReplyToRequestMs());
    std::printf("cpu s/s            %.4f  (%.2f %% of one core)\n", cpu / elapsed, 100.0 * cpu / elapsed);

    form.findChild<QPushButton*>(QStringLiteral("ButtonCOM"))->click();
    (void)QTest::qWaitFor([&] { return !form.ComPort->Connected(); }, 3000);
    return 0;
}
