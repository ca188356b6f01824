// Poll throughput and CPU: the window's poll cycle reads page 0 from the
// relay simulator, paced like a 9600-baud line, while zashchita-cli monitor
// and `mbpoll` (when installed) poll the same block, each from a simulator of
// its own, in the same run. For each round it prints exchanges per second,
// their ratio to what the line allows (with 3.5 characters of silence before
// each request), the CPU share of one core, and the window-to-mbpoll CPU
// ratio.
//
//   bench_poll [SECONDS] [TURNAROUND_MS] [SIMULATOR OPTIONS...]   (defaults 20 and 3)
//
// With no simulator options it runs every round: polling with the reply
// handed on in pieces of 1, 2 and 8 bytes, then the port closed, then the
// relay silent. --piece-bytes N runs only the polling round with that piece,
// --silent only the silent round; other options go to every simulator.
// BENCH_HIDDEN=1 leaves the window unshown, BENCH_NO_COMPANION=1 leaves
// zashchita-cli out, BENCH_NO_PEER=1 leaves mbpoll out; QT_NO_GLIB=1 selects
// Qt's own event dispatcher instead of GLib's.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PeerMaster.h"
#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "link/LinePort.h"
#include "support/RelaySim.h"

namespace {

constexpr int kRequestBytes = 8;
constexpr int kReplyBytes = 63;          // page 0: 29 registers
constexpr double kBitsPerByte = 10.0;    // 8N1
constexpr double kBaud = 9600.0;
constexpr double kGapChars = 3.5;        // the silent interval before each frame
constexpr int kPeerPollMs = 11;          // mbpoll's shortest poll period
constexpr int kFirstReplyWaitMs = 10000;
constexpr int kSettleMs = 1000;          // before a round's measurement starts
const int kPieces[] = {1, 2, 8};

// The port as the poll cycle sees it, timing each request's first byte and
// the last byte read before the next request: where an exchange's time goes.
class TimingLine : public ILinePort {
public:
    explicit TimingLine(TComPort* port) : port_(port) {}
    bool IsOpen() const override { return port_->Connected(); }
    void WriteByte(uint8_t b) override
    {
        const auto now = std::chrono::steady_clock::now();
        if (++written_ % kRequestBytes == 1 && haveRead_) {
            replyToRequest_ += now - lastRead_;
            requestToReply_ += lastRead_ - lastRequest_;
            ++timed_;
            haveRead_ = false;
        }
        if (written_ % kRequestBytes == 1)
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
    // As the window's own line does: a request in one write, a receive
    // event's bytes in one read.
    void WriteBytes(const uint8_t* bytes, int count) override
    {
        const auto now = std::chrono::steady_clock::now();
        if (haveRead_) {
            replyToRequest_ += now - lastRead_;
            requestToReply_ += lastRead_ - lastRequest_;
            ++timed_;
            haveRead_ = false;
        }
        lastRequest_ = now;
        written_ += count;
        port_->Write(bytes, count);
    }
    int ReadBytes(uint8_t* bytes, int count) override
    {
        const int got = std::max(port_->Read(bytes, count), 0);
        lastRead_ = std::chrono::steady_clock::now();
        haveRead_ = true;
        return got;
    }

    void HoldRx(std::chrono::nanoseconds time) override { port_->HoldRxChar(time); }

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

int countLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return int(f.readAll().count('\n'));
}

// A real event loop: QTest::qWait sleeps between its passes and would delay
// every receive event.
void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Settings {
    double seconds = 20;
    double turnaroundMs = 3;
    std::vector<std::string> simExtra;
    bool hidden = false;
    std::string peer;   // mbpoll's path, empty to leave it out
    bool companion = true;   // zashchita-cli's monitor beside the window
    double lineLimit() const
    {
        const double byteMs = kBitsPerByte * 1000.0 / kBaud;
        return 1000.0 / ((kRequestBytes + kReplyBytes + kGapChars) * byteMs + turnaroundMs);
    }
};

struct Result {
    std::string round;
    int piece = 0;
    double rate = -1, cpu = 0;                 // exchanges/s, share of one core
    std::optional<double> peerRate, peerCpu;           // mbpoll
    std::optional<double> companionRate, companionCpu; // zashchita-cli monitor
    double requestToReplyMs = 0, replyToRequestMs = 0;
    unsigned misses = 0;
};

// The simulator's options for one round, with its request log.
std::vector<std::string> simArgs(const Settings& s, const QString& log, int piece)
{
    std::vector<std::string> args{"--turnaround-ms", std::to_string(s.turnaroundMs), "--log",
                                  log.toStdString()};
    if (piece > 0)
        args.insert(args.end(), {"--piece-bytes", std::to_string(piece)});
    args.insert(args.end(), s.simExtra.begin(), s.simExtra.end());
    return args;
}

void clickPortButton(TForm1& form)
{
    form.findChild<QPushButton*>(QStringLiteral("ButtonCOM"))->click();
}

void closePort(TForm1& form)
{
    if (form.ComPort()->Connected()) {
        clickPortButton(form);
        (void)QTest::qWaitFor([&] { return !form.ComPort()->Connected(); }, 3000);
    }
}

// A master beside the window, on a simulator of its own, counted by the
// requests its simulator logs.
struct SidePeer {
    std::unique_ptr<RelaySim> sim;
    QString log;
    std::unique_ptr<PeerMaster> master;
    int before = 0;
    double cpuBefore = -1;

    void Start(std::vector<std::string> args) { master = std::make_unique<PeerMaster>(std::move(args)); }
    void Mark()
    {
        before = countLines(log);
        cpuBefore = master ? master->cpuSeconds() : -1;
    }
    // Requests a second and CPU share since Mark, when it ran all along.
    void Measure(double elapsed, std::optional<double>& rate, std::optional<double>& cpu) const
    {
        const double cpuAfter = master ? master->cpuSeconds() : -1;
        if (!master || !master->running() || cpuBefore < 0 || cpuAfter < 0)
            return;
        rate = (countLines(log) - before) / elapsed;
        cpu = (cpuAfter - cpuBefore) / elapsed;
    }
};

// The window polls its simulator; mbpoll and the companion, if any, poll
// their own, all in the same run.
std::optional<Result> pollingRound(const Settings& s, int piece, bool silent)
{
    QTemporaryDir dir;
    const QString log = dir.path() + QStringLiteral("/window.log");
    RelaySim sim(simArgs(s, log, piece));
    SidePeer mbpoll, companion;
    if (!s.peer.empty() && !silent) {
        mbpoll.log = dir.path() + QStringLiteral("/mbpoll.log");
        mbpoll.sim = std::make_unique<RelaySim>(simArgs(s, mbpoll.log, piece));
    }
    if (s.companion && !silent) {
        companion.log = dir.path() + QStringLiteral("/companion.log");
        companion.sim = std::make_unique<RelaySim>(simArgs(s, companion.log, piece));
    }
    setenv("ZASHCHITA_COM1", sim.path().c_str(), 1);

    TForm1 form;
    if (!s.hidden)
        form.show();
    TimingLine timing(form.ComPort());
    form.SetLine(&timing);
    clickPortButton(form);
    auto* e0 = form.findChild<QLineEdit*>(QStringLiteral("E0"));
    if (!silent && !QTest::qWaitFor([&] { return !e0->text().isEmpty(); }, kFirstReplyWaitMs)) {
        std::fprintf(stderr, "no reply from the simulator\n");
        return std::nullopt;
    }
    if (mbpoll.sim)
        mbpoll.Start(PeerMaster::MbpollArgs(s.peer, mbpoll.sim->path(), kPeerPollMs));
    if (companion.sim)
        companion.Start(PeerMaster::CompanionArgs(ZASHCHITA_CLI_PATH, companion.sim->path()));
    runFor(kSettleMs / 1000.0);

    timing.Reset();
    const int before = countLines(log);
    mbpoll.Mark();
    companion.Mark();
    const double cpuBefore = SelfCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    runFor(s.seconds);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = SelfCpuSeconds() - cpuBefore;

    Result r;
    r.round = silent ? "silent" : "polling";
    r.piece = silent ? 0 : piece;
    r.rate = silent ? -1 : (countLines(log) - before) / elapsed;
    r.cpu = cpu / elapsed;
    mbpoll.Measure(elapsed, r.peerRate, r.peerCpu);
    companion.Measure(elapsed, r.companionRate, r.companionCpu);
    r.requestToReplyMs = timing.RequestToReplyMs();
    r.replyToRequestMs = timing.ReplyToRequestMs();
    r.misses = form.Link().MissCount;
    for (SidePeer* peer : {&mbpoll, &companion})
        if (peer->master)
            peer->master->stop();
    closePort(form);
    return r;
}

// Nothing but the window with its port closed.
Result closedRound(const Settings& s)
{
    TForm1 form;
    if (!s.hidden)
        form.show();
    // A new window's first paints (fonts, glyphs) are not its steady cost.
    runFor(3 * kSettleMs / 1000.0);
    const double cpuBefore = SelfCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    runFor(s.seconds);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    Result r;
    r.round = "closed";
    r.cpu = (SelfCpuSeconds() - cpuBefore) / elapsed;
    return r;
}

void printRound(const Settings& s, const Result& r)
{
    std::printf("%-8s piece %d: ", r.round.c_str(), r.piece);
    if (r.rate >= 0)
        std::printf("%.2f exchanges/s (%.3f of the line), ", r.rate, r.rate / s.lineLimit());
    std::printf("cpu %.2f %%", 100.0 * r.cpu);
    if (r.peerRate)
        std::printf("; mbpoll %.2f/s (%.3f), cpu %.2f %%", *r.peerRate, *r.peerRate / s.lineLimit(),
                    100.0 * *r.peerCpu);
    if (r.companionRate)
        std::printf("; zashchita-cli %.2f/s (%.3f), cpu %.2f %%", *r.companionRate,
                    *r.companionRate / s.lineLimit(), 100.0 * *r.companionCpu);
    if (r.rate >= 0)
        std::printf("; request to reply %.1f ms, reply to request %.1f ms, misses now %u",
                    r.requestToReplyMs, r.replyToRequestMs, r.misses);
    std::printf("\n");
    std::fflush(stdout);
}

void printTable(const Settings& s, const std::vector<Result>& results)
{
    std::printf("\n%-8s %5s | %8s %6s %7s | %8s %6s %7s | %8s %6s %7s | %s\n", "round", "piece", "window/s",
                "ratio", "cpu %", "cli/s", "ratio", "cpu %", "mbpoll/s", "ratio", "cpu %", "cpu window/mbpoll");
    auto column = [&](const std::optional<double>& rate, const std::optional<double>& cpu) {
        if (rate)
            std::printf("%8.2f %6.3f %7.2f | ", *rate, *rate / s.lineLimit(), 100.0 * *cpu);
        else
            std::printf("%8s %6s %7s | ", "-", "-", "-");
    };
    for (const Result& r : results) {
        std::printf("%-8s %5s | ", r.round.c_str(), r.piece ? std::to_string(r.piece).c_str() : "-");
        if (r.rate >= 0)
            std::printf("%8.2f %6.3f ", r.rate, r.rate / s.lineLimit());
        else
            std::printf("%8s %6s ", "-", "-");
        std::printf("%7.2f | ", 100.0 * r.cpu);
        column(r.companionRate, r.companionCpu);
        column(r.peerRate, r.peerCpu);
        if (r.peerCpu && *r.peerCpu > 0)
            std::printf("%.2f\n", r.cpu / *r.peerCpu);
        else
            std::printf("-\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    Settings s;
    if (argc > 1)
        s.seconds = std::atof(argv[1]);
    if (argc > 2)
        s.turnaroundMs = std::atof(argv[2]);
    for (int i = 3; i < argc; ++i)
        s.simExtra.push_back(argv[i]);
    s.hidden = std::getenv("BENCH_HIDDEN") != nullptr;
    if (!std::getenv("BENCH_NO_PEER"))
        s.peer = PeerMaster::Find();
    s.companion = !std::getenv("BENCH_NO_COMPANION");
    SetErrorMessageHook([](const ErrorMessage& m) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(m.text), qPrintable(m.detail));
    });

    // A --piece-bytes, --silent or --closed given by the caller picks the one
    // round.
    auto extra = [&](const char* name) {
        return std::find(s.simExtra.begin(), s.simExtra.end(), name) != s.simExtra.end();
    };
    const bool onlySilent = extra("--silent");
    const bool onlyPiece = extra("--piece-bytes");
    const bool onlyClosed = extra("--closed");

    std::printf("line limit %.2f exchanges/s (71 bytes, 3.5 characters of gap and %.1f ms turnaround), "
                "%.0f s a round, window %s, dispatcher %s, peer %s\n",
                s.lineLimit(), s.turnaroundMs, s.seconds, s.hidden ? "hidden" : "shown",
                QAbstractEventDispatcher::instance()->metaObject()->className(),
                s.peer.empty() ? "none" : s.peer.c_str());
    std::fflush(stdout);

    std::vector<Result> results;
    auto keep = [&](std::optional<Result> r) {
        if (!r)
            return false;
        printRound(s, *r);
        results.push_back(*r);
        return true;
    };
    if (onlyClosed) {
        keep(closedRound(s));
    } else if (onlySilent) {
        if (!keep(pollingRound(s, 0, true)))
            return 1;
    } else if (onlyPiece) {
        // The caller's --piece-bytes is among the simulator options already.
        auto r = pollingRound(s, 0, false);
        if (!r)
            return 1;
        const auto at = std::find(s.simExtra.begin(), s.simExtra.end(), "--piece-bytes");
        if (at + 1 < s.simExtra.end())
            r->piece = std::atoi((at + 1)->c_str());
        keep(r);
    } else {
        for (int piece : kPieces)
            if (!keep(pollingRound(s, piece, false)))
                return 1;
        keep(closedRound(s));
        s.simExtra.push_back("--silent");
        keep(pollingRound(s, 0, true));
    }
    printTable(s, results);
    return 0;
}
