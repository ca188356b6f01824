#include "support/PtyBridge.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace {
void openPair(int& master, int& hold, std::string& path)
{
    char name[256] = {};
    termios raw {};
    cfmakeraw(&raw);
    if (openpty(&master, &hold, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    path = name;
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
}

// Copies what is waiting on `from` to `to`; false once `from` has nothing more.
void copyOver(int from, int to)
{
    char buf[512];
    const ssize_t n = read(from, buf, sizeof buf);
    if (n <= 0)
        return;
    ssize_t done = 0;
    while (done < n) {
        const ssize_t w = write(to, buf + done, size_t(n - done));
        if (w > 0)
            done += w;
        else if (w < 0 && errno != EAGAIN && errno != EINTR)
            return;
    }
}
}

PtyBridge::PtyBridge()
{
    openPair(masterA_, holdA_, pathA_);
    openPair(masterB_, holdB_, pathB_);
    if (pipe(stopPipe_) != 0)
        throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] { pump(); });
}

PtyBridge::~PtyBridge()
{
    const char stop = 1;
    (void)!write(stopPipe_[1], &stop, 1);
    thread_.join();
    for (int fd : {masterA_, masterB_, holdA_, holdB_, stopPipe_[0], stopPipe_[1]})
        close(fd);
}

void PtyBridge::pump()
{
    for (;;) {
        pollfd fds[3] = {{masterA_, POLLIN, 0}, {masterB_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0 && errno != EINTR)
            return;
        if (fds[2].revents)
            return;
        if (fds[0].revents & POLLIN)
            copyOver(masterA_, masterB_);
        if (fds[1].revents & POLLIN)
            copyOver(masterB_, masterA_);
    }
}
