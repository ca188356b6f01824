#include "PtyLine.h"

#include "ProgramName.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace relaysim {

namespace {

// After a hang-up or EIO on the line (not expected while our own slave fd
// is open), how long to look away rather than spin on it.
constexpr int64_t kHangUpQuietNs = 20'000'000;

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

} // namespace

PtyLine::PtyLine(std::string linkPath)
    : linkPath_(std::move(linkPath))
{
}

PtyLine::~PtyLine()
{
    close();
}

int PtyLine::open()
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
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
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
                     "may reach the next\n",
                     kProgramName, name, std::strerror(errno));
        if (watchFd_ >= 0)
            ::close(watchFd_);
        watchFd_ = -1;
    }
    return linkPath_.empty() ? 0 : makeLink();
}

int PtyLine::makeLink()
{
    struct stat st{};
    if (lstat(linkPath_.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "%s: %s exists and is not a symlink\n", kProgramName, linkPath_.c_str());
            return 1;
        }
        unlink(linkPath_.c_str()); // left over from an earlier run
    }
    if (symlink(ptyPath_.c_str(), linkPath_.c_str()) != 0) {
        std::fprintf(stderr, "%s: cannot make link %s: %s\n", kProgramName, linkPath_.c_str(), std::strerror(errno));
        return 1;
    }
    linkMade_ = true;
    return 0;
}

void PtyLine::close()
{
    // The adapter is pulled: every fd of the pty goes at once.
    for (int* fd : {&watchFd_, &masterFd_, &slaveFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (linkMade_) {
        // Only our own link: another run may have taken the name over since.
        char target[256];
        const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, size_t(n)) == ptyPath_)
            unlink(linkPath_.c_str());
        linkMade_ = false;
    }
}

void PtyLine::watch(std::vector<pollfd>& fds, int64_t nowNs)
{
    if (hupQuietUntilNs_ >= 0 && nowNs >= hupQuietUntilNs_)
        hupQuietUntilNs_ = -1;
    watchedOpeners_ = watchedLine_ = -1;
    if (watchFd_ >= 0) {
        watchedOpeners_ = int(fds.size());
        fds.push_back(pollfd{watchFd_, POLLIN, 0});
    }
    if (masterFd_ >= 0 && hupQuietUntilNs_ < 0) {
        watchedLine_ = int(fds.size());
        fds.push_back(pollfd{masterFd_, POLLIN, 0});
    }
}

void PtyLine::serve(const pollfd* fds, size_t count, int64_t nowNs, TransportEvents& events)
{
    // Comings and goings first, every time, so bytes of a new master are
    // never read before the old one's leaving is dealt with.
    watchOpeners(nowNs, events);
    if (watchedLine_ < 0 || size_t(watchedLine_) >= count)
        return;
    const short revents = fds[watchedLine_].revents;
    if (revents & POLLIN)
        readLine(nowNs, events);
    else if (revents & (POLLHUP | POLLERR))
        hupQuietUntilNs_ = nowNs + kHangUpQuietNs;
}

void PtyLine::readLine(int64_t nowNs, TransportEvents& events)
{
    uint8_t buf[512];
    for (;;) {
        const ssize_t n = read(masterFd_, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EIO)
                hupQuietUntilNs_ = nowNs + kHangUpQuietNs;
            return;
        }
        events.received(buf, size_t(n), nowNs);
        if (size_t(n) < sizeof buf)
            return;
    }
}

void PtyLine::send(const uint8_t* data, size_t count)
{
    while (count > 0 && masterFd_ >= 0) {
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

PtyLine::OpenerEvents PtyLine::readOpenerEvents()
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

Bytes PtyLine::drainLine()
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

void PtyLine::watchOpeners(int64_t nowNs, TransportEvents& events)
{
    if (watchFd_ < 0)
        return;
    OpenerEvents openers = readOpenerEvents();
    while (openers.lastClosed) {
        // The last master has gone, perhaps killed in the middle of an
        // exchange. Nothing of it may reach the next one: a master that does
        // not flush its input on opening would take the rest of an old reply
        // for the start of its own and stay a reply behind from then on.
        events.peerChanged();
        tcflush(slaveFd_, TCIFLUSH); // reply bytes it left unread
        // The next one is there already: what is waiting on the line is
        // read as its. Only if we were kept from running until after it came
        // can some of that be the old master's; the assembler then finds the
        // new request behind it, as it would behind noise on a wire.
        if (openers_ > 0)
            return;
        MakeRaw(slaveFd_);              // the line as it was at start, whatever that master set
        const Bytes left = drainLine(); // what it sent that was not read yet
        openers = readOpenerEvents();
        if (openers.opened && !openers.lastClosed && !left.empty())
            events.received(left.data(), left.size(), nowNs); // a new master came meanwhile: this may be its request
    }
}

} // namespace relaysim
