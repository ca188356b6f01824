#include "Simulator.h"

#include "LineTime.h"
#include "ProgramName.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace relaysim {

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signo)
{
    g_stopSignal = signo;
}

// Raw 9600 8N1 on a tty of the pty pair; the master side may refuse
// termios calls on some systems, which does no harm.
void MakeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
}

timespec ToTimespec(int64_t ns)
{
    timespec ts{};
    ts.tv_sec = time_t(ns / kSecondNs);
    ts.tv_nsec = long(ns % kSecondNs);
    return ts;
}

} // namespace


Simulator::Simulator(const Options& options, uint64_t rngStart, std::vector<RegisterBank> banks)
    : options_(options)
    , relays_(options_, rngStart, std::move(banks))
{
}

Simulator::~Simulator()
{
    shutDown();
}

int Simulator::setUp()
{
    masterFd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd_ < 0 || grantpt(masterFd_) != 0 || unlockpt(masterFd_) != 0) {
        std::fprintf(stderr, "%s: cannot open a pty: %s\n", kProgramName, std::strerror(errno));
        return 1;
    }
    char name[128];
    if (ptsname_r(masterFd_, name, sizeof name) != 0) {
        std::fprintf(stderr, "%s: cannot name the pty: %s\n", kProgramName, std::strerror(errno));
        return 1;
    }
    ptyPath_ = name;
    slaveFd_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", kProgramName, name, std::strerror(errno));
        return 1;
    }
    MakeRaw(slaveFd_);
    MakeRaw(masterFd_);
    fcntl(masterFd_, F_SETFL, fcntl(masterFd_, F_GETFL) | O_NONBLOCK);

    // With our own slave fd open the master side never sees a master come
    // or go; a watch on the device tells.
    watchFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watchFd_ < 0 || inotify_add_watch(watchFd_, name, IN_OPEN | IN_CLOSE) < 0) {
        std::fprintf(stderr,
                     "%s: cannot watch %s for masters coming and going (%s); what one leaves on the line "
                     "may reach the next\n", kProgramName,
                     name, std::strerror(errno));
        if (watchFd_ >= 0)
            close(watchFd_);
        watchFd_ = -1;
    }

    if (!log_.open(options_.logPath, options_.timingPath))
        return 1;

    if (!options_.linkPath.empty()) {
        struct stat st{};
        if (lstat(options_.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "%s: %s exists and is not a symlink\n", kProgramName, options_.linkPath.c_str());
                return 1;
            }
            unlink(options_.linkPath.c_str()); // left over from an earlier run
        }
        if (symlink(ptyPath_.c_str(), options_.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "%s: cannot make link %s: %s\n", kProgramName, options_.linkPath.c_str(),
                         std::strerror(errno));
            return 1;
        }
        linkMade_ = true;
    }

    // Stop signals are held back except while waiting in ppoll, so one that
    // arrives between two waits is never missed.
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    sigprocmask(SIG_BLOCK, &stops, nullptr);

    std::printf("%s\n", ptyPath_.c_str());
    std::fflush(stdout);

    const int64_t now = MonotonicNs();
    relays_.start(now);
    if (options_.goneAfterS)
        goneNs_ = now + int64_t(*options_.goneAfterS * 1e9);
    return 0;
}

void Simulator::shutDown()
{
    if (watchFd_ >= 0)
        close(watchFd_);
    watchFd_ = -1;
    if (masterFd_ >= 0)
        close(masterFd_);
    if (slaveFd_ >= 0)
        close(slaveFd_);
    masterFd_ = slaveFd_ = -1;
    log_.close();
    if (linkMade_) {
        // Only our own link: another run may have taken the name over since.
        char target[256];
        const ssize_t n = readlink(options_.linkPath.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, size_t(n)) == ptyPath_)
            unlink(options_.linkPath.c_str());
        linkMade_ = false;
    }
}

int Simulator::run()
{
    sigset_t waitMask;
    sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);

    while (g_stopSignal == 0) {
        int64_t now = MonotonicNs();
        transmitDue(now);
        relays_.tick(now);
        if (goneNs_ >= 0 && now >= goneNs_) {
            // The adapter is pulled: every fd of the pty goes at once.
            shutDown();
            return 0;
        }
        if (auto frame = assembler_.idle(now))
            onFrame(*frame);

        if (hupQuietUntilNs_ >= 0 && now >= hupQuietUntilNs_)
            hupQuietUntilNs_ = -1;
        const bool watchLine = hupQuietUntilNs_ < 0;
        pollfd fds[2];
        nfds_t count = 0;
        if (watchFd_ >= 0)
            fds[count++] = pollfd{watchFd_, POLLIN, 0};
        pollfd* const line = watchLine ? &fds[count++] : nullptr;
        if (line)
            *line = pollfd{masterFd_, POLLIN, 0};
        const int64_t deadline = nextDeadline();
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (deadline >= 0) {
            timeout = ToTimespec(std::max<int64_t>(0, deadline - now));
            timeoutPtr = &timeout;
        }
        const int ready = ppoll(count ? fds : nullptr, count, timeoutPtr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "%s: ppoll: %s\n", kProgramName, std::strerror(errno));
            return 1;
        }
        now = MonotonicNs();
        // Comings and goings first, every time, so bytes of a new master
        // are never read before the old one's leaving is dealt with.
        watchOpeners(now);
        if (!line || ready <= 0)
            continue;
        if (line->revents & POLLIN)
            readLine(now);
        else if (line->revents & (POLLHUP | POLLERR)) {
            // Should not happen while our own slave fd is open; if it does,
            // look again later rather than spin on it.
            hupQuietUntilNs_ = now + 20'000'000;
        }
    }
    shutDown();
    return 0;
}

int64_t Simulator::nextDeadline() const
{
    int64_t deadline = -1;
    auto consider = [&deadline](int64_t t) {
        if (t >= 0 && (deadline < 0 || t < deadline))
            deadline = t;
    };
    if (!outgoing_.empty())
        consider(nextWriteNs(outgoing_.front()));
    consider(relays_.nextTickNs());
    consider(goneNs_);
    consider(assembler_.nextIdleDeadline());
    consider(hupQuietUntilNs_);
    return deadline;
}

void Simulator::readLine(int64_t nowNs)
{
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = read(masterFd_, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EIO)
                hupQuietUntilNs_ = nowNs + 20'000'000;
            return;
        }
        feed(buf, size_t(n), nowNs);
        if (size_t(n) < sizeof buf)
            return;
    }
}

void Simulator::feed(const uint8_t* data, size_t count, int64_t nowNs)
{
    for (size_t i = 0; i < count; ++i) {
        if (auto frame = assembler_.push(data[i], nowNs))
            onFrame(*frame);
    }
}

Simulator::OpenerEvents Simulator::readOpenerEvents()
{
    OpenerEvents events;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = read(watchFd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return events;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buf + at);
            at += ssize_t(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {
                // The count is lost: take the line as left, the safe side
                // for whoever opens it next.
                openers_ = 0;
                events.lastClosed = true;
            }
            if (e->mask & IN_OPEN) {
                ++openers_;
                events.opened = true;
            }
            if (e->mask & IN_CLOSE) {
                openers_ = std::max(0, openers_ - 1);
                if (openers_ == 0)
                    events.lastClosed = true;
            }
        }
    }
}

Bytes Simulator::drainLine()
{
    Bytes all;
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = read(masterFd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return all;
        all.insert(all.end(), buf, buf + n);
    }
}

void Simulator::watchOpeners(int64_t nowNs)
{
    if (watchFd_ < 0)
        return;
    OpenerEvents events = readOpenerEvents();
    while (events.lastClosed) {
        // The last master has gone, perhaps killed in the middle of an
        // exchange. Nothing of it may reach the next one: a master that does
        // not flush its input on opening would take the rest of an old reply
        // for the start of its own and stay a reply behind from then on.
        outgoing_.clear();
        assembler_.clear();
        tcflush(slaveFd_, TCIFLUSH); // reply bytes it left unread
        // The next one is there already: what is waiting on the line is
        // read as its. Only if we were kept from running until after it came
        // can some of that be the old master's; the assembler then finds the
        // new request behind it, as it would behind noise on a wire.
        if (openers_ > 0)
            return;
        MakeRaw(slaveFd_);               // the line as it was at start, whatever that master set
        const Bytes left = drainLine();  // what it sent that was not read yet
        events = readOpenerEvents();
        if (events.opened && !events.lastClosed)
            feed(left.data(), left.size(), nowNs); // a new master came meanwhile: this may be its request
    }
}

void Simulator::onFrame(const Frame& frame)
{
    log_.received(frame);
    const Response response = relays_.respond(frame.bytes, MonotonicNs());
    if (!response.reply.empty())
        queueReply(response.onLine(), response.unasked, frame);
}

int64_t Simulator::endNs(const Outgoing& o) const
{
    return o.startNs + (options_.pace ? LineTimeNs(int64_t(o.bytes.size())) : 0);
}

int64_t Simulator::unaskedGapNs() const
{
    return int64_t(options_.unaskedGapMs * 1e6);
}

int64_t Simulator::nextWriteNs(const Outgoing& o) const
{
    return options_.pace ? o.startNs + LineTimeNs(int64_t(pieceEnd(o))) : o.startNs;
}

void Simulator::queueReply(Bytes reply, Bytes unasked, const Frame& request)
{
    const int64_t now = MonotonicNs();
    int64_t start = now;
    if (options_.pace) {
        // On a real line the request's last bit arrives its own line time
        // after its first byte; the pty delivers it at once, so wait that
        // out too.
        start = std::max(request.lastNs, request.firstNs + LineTimeNs(int64_t(request.bytes.size())))
            + int64_t(options_.turnaroundMs * 1e6);
    }
    // One frame at a time on the line: a request that came while an earlier
    // reply (or the frame nobody asked for after it) was going out is
    // answered after it.
    if (!outgoing_.empty())
        start = std::max(start, endNs(outgoing_.back()));
    outgoing_.push_back(Outgoing{std::move(reply), start});
    if (!unasked.empty()) {
        const int64_t after = endNs(outgoing_.back()) + unaskedGapNs();
        outgoing_.push_back(Outgoing{std::move(unasked), after, true});
    }
    transmitDue(now);
}

void Simulator::writeRaw(const uint8_t* data, size_t count)
{
    while (count > 0) {
        const ssize_t n = write(masterFd_, data, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return; // nobody drains the line (EAGAIN): the rest is lost, as on a wire
        }
        data += n;
        count -= size_t(n);
    }
}

void Simulator::writeTimed(Outgoing& o, size_t end)
{
    // Times are taken before the write: the master cannot have a byte
    // earlier, so a silence measured from them is never longer than the one
    // the master kept.
    const int64_t now = MonotonicNs();
    if (o.sent == 0)
        o.firstWriteNs = now;
    writeRaw(o.bytes.data() + o.sent, end - o.sent);
    o.sent = end;
    o.lastWriteNs = now;
    if (o.sent == o.bytes.size())
        log_.sent(o.bytes, o.firstWriteNs, now, o.unasked ? "unasked" : nullptr);
}

size_t Simulator::pieceEnd(const Outgoing& o) const
{
    return std::min(o.bytes.size(), (o.sent / options_.pieceBytes + 1) * options_.pieceBytes);
}

void Simulator::transmitDue(int64_t nowNs)
{
    // Each paced byte is handed over when its stop bit would have been
    // received; due times count from the frame's start, so late wake-ups
    // never add up.
    while (!outgoing_.empty()) {
        Outgoing& o = outgoing_.front();
        size_t due = o.sent;
        if (!options_.pace) {
            if (o.startNs <= nowNs)
                due = o.bytes.size();
        } else {
            while (due < o.bytes.size() && o.startNs + LineTimeNs(int64_t(due) + 1) <= nowNs)
                ++due;
            if (due < o.bytes.size())
                due -= due % options_.pieceBytes; // whole pieces only, unless catching up to the end
        }
        if (due > o.sent)
            writeTimed(o, due);
        if (o.sent < o.bytes.size())
            return;
        const int64_t lineFree = o.lastWriteNs;
        outgoing_.pop_front();
        // The next frame keeps its distance from when this one really ended,
        // however late that was: a frame nobody asked for its gap, any other
        // at least no overlap.
        if (!outgoing_.empty()) {
            Outgoing& next = outgoing_.front();
            next.startNs = std::max(next.startNs, lineFree + (next.unasked ? unaskedGapNs() : 0));
        }
    }
}

} // namespace relaysim
