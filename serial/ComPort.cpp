// TComPort on a Linux terminal device (termios).
//
// The device is opened non-blocking, so Read and Write implement their
// time-outs themselves with poll(). A watcher thread waits on the device and
// on a stop eventfd; when bytes arrive it posts a queued call to the port's
// thread (the window's thread) and waits until that call has run, so at most
// one character-received event is in flight and every handler runs on the
// window's thread between its other events.
#include "serial/ComPort.h"

#include "serial/CustomBaud.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <optional>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The message table, by ErrorCode 1 to 22.
const char* const kMessages[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set SyncMethod while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
};

// Bits per second, by TBaudRate (brCustom reads CustomBaudRate instead).
const int kBaudRates[] = {0,     110,   300,   600,    1200,   2400,   4800,   9600,
                          14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

speed_t standardSpeed(int rate)
{
    switch (rate) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

using Clock = std::chrono::steady_clock;

// Milliseconds until deadline, rounded up, 0 once it has passed.
int msUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return static_cast<int>(std::min<long long>(left, INT_MAX));
}

// The total time-out N * multiplier + constant, -1 in either meaning "the
// largest value", which no caller will live to see: no limit then, as with 0/0.
std::optional<Clock::time_point> totalDeadline(int multiplier, int constant, int count)
{
    if (multiplier < 0 || constant < 0)
        return std::nullopt;
    const long long ms = static_cast<long long>(multiplier) * count + constant;
    if (ms == 0)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(ms);
}

// A pseudo-terminal has no modem lines; its driver answers ENOTTY (or EINVAL).
bool noModemLines(int err) { return err == ENOTTY || err == EINVAL; }

} // namespace

// ---------------------------------------------------------------- EComPort

EComPort::EComPort(int errorCode, int osErrorCode)
    : std::runtime_error(MessageFor(errorCode, osErrorCode).toStdString()),
      ErrorCode(errorCode), OsErrorCode(osErrorCode) {}

QString EComPort::MessageFor(int errorCode, int osErrorCode)
{
    const int rows = int(sizeof kMessages / sizeof kMessages[0]);
    const QString text = (errorCode >= 1 && errorCode <= rows)
                             ? QString::fromLatin1(kMessages[errorCode - 1])
                             : QStringLiteral("Unknown com port error %1").arg(errorCode);
    if (osErrorCode == -1)
        return text;
    return QStringLiteral("%1 (win error code: %2)").arg(text).arg(osErrorCode);
}

// ---------------------------------------------------------------- watcher state

// One open device's watcher. Shared between the port, the watcher thread and
// the queued hand-over calls, so a call that arrives after Close finds a
// Watch that is no longer the port's and does nothing.
struct TComPort::Watch {
    int fd = -1;                 // the port's device (owned by the port)
    int stopFd = -1;             // eventfd: written once by stopWatcher
    bool watchRx = false;        // evRxChar is among Events
    TSyncMethod sync = smThreadSync;
    std::thread thread;

    std::mutex m;
    std::condition_variable cv;
    bool stopping = false;
    quint64 handed = 0;          // hand-overs posted
    quint64 served = 0;          // hand-overs the window thread has finished
    bool consumed = true;        // whether the last one's handlers read anything

    ~Watch()
    {
        if (stopFd >= 0)
            ::close(stopFd);
    }
};

// ---------------------------------------------------------------- TComPort

TComPort::TComPort(QObject* owner) : QObject(owner) {}

TComPort::~TComPort()
{
    try {
        Close();
    } catch (const std::exception& e) {
        qWarning("TComPort %s: closing on destruction: %s", qPrintable(port_), e.what());
    }
}

QString TComPort::NormalizePortName(const QString& name)
{
    QString rest = name;
    if (rest.left(3).toUpper() == QLatin1String("COM"))
        rest = rest.mid(3);
    bool ok = false;
    int number = rest.toInt(&ok, 10);
    if (!ok || number < 1 || number > 96)
        number = 1;
    return QStringLiteral("COM%1").arg(number);
}

QString TComPort::DevicePathFor(const QString& portName)
{
    const QString name = NormalizePortName(portName);
    const int number = name.mid(3).toInt();
    const QByteArray mapped = qgetenv(("ZASHCHITA_" + name).toLatin1().constData());
    if (!mapped.isEmpty())
        return QFile::decodeName(mapped);
    const QString usb = QStringLiteral("/dev/ttyUSB%1").arg(number - 1);
    if (QFileInfo::exists(usb))
        return usb;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

void TComPort::SetPort(const QString& name)
{
    const QString normalized = NormalizePortName(name);
    if (normalized == port_)
        return;
    port_ = normalized;
    if (Connected()) {
        Close();
        Open();
    }
}

void TComPort::Open()
{
    if (fd_ >= 0)
        return;

    devicePath_ = DevicePathFor(port_);
    const QByteArray path = QFile::encodeName(devicePath_);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw EComPort(1, errno);
    // Not shared: nobody else may open the line while we hold it. A device
    // that is no terminal at all fails below, at the line settings.
    if (::ioctl(fd, TIOCEXCL) < 0 && !noModemLines(errno)) {
        const int err = errno;
        ::close(fd);
        throw EComPort(1, err);
    }

    fd_ = fd;
    deviceLost_ = false;
    try {
        applyBuffer();
        applyLineSettings();
        applyTimeouts();
        if (!Events.empty())
            startWatcher();
    } catch (...) {
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        fd_ = -1;
        throw;
    }

    for (TComLink* link : linksSnapshot())
        if (isLinked(link) && link->OnConn)
            link->OnConn(true);
    if (fd_ < 0)
        return;   // a connection handler closed the port again
    readModemLinesForLinks();
}

void TComPort::Close()
{
    if (fd_ < 0)
        return;

    for (TComLink* link : linksSnapshot()) {
        if (!isLinked(link))
            continue;
        if (link->OnCTSChange)
            link->OnCTSChange(false);
        if (link->OnDSRChange)
            link->OnDSRChange(false);
        if (link->OnRLSDChange)
            link->OnRLSDChange(false);
    }
    if (fd_ < 0)
        return;   // one of those handlers closed it

    stopWatcher();

    // Discard what is still queued either way. A device that has gone away
    // refuses this; there is nothing left to discard then.
    ::tcflush(fd_, TCIOFLUSH);
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    deviceLost_ = false;

    for (TComLink* link : linksSnapshot())
        if (isLinked(link) && link->OnConn)
            link->OnConn(false);
}

int TComPort::Write(const void* buffer, int count)
{
    if (count <= 0)
        return 0;
    if (fd_ < 0)
        throw EComPort(2, EBADF);

    for (TComLink* link : linksSnapshot())
        if (isLinked(link) && link->OnTxNotify)
            link->OnTxNotify(true);

    const char* bytes = static_cast<const char*>(buffer);
    const auto deadline =
        totalDeadline(Timeouts.WriteTotalMultiplier, Timeouts.WriteTotalConstant, count);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, bytes + done, size_t(count - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw EComPort(2, errno);
        // The driver's output queue is full: wait until it takes more.
        int wait = -1;
        if (deadline) {
            wait = msUntil(*deadline);
            if (wait == 0)
                break;   // write time-out: report what was handed over
        }
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, wait) < 0 && errno != EINTR)
            throw EComPort(2, errno);
    }

    for (TComLink* link : linksSnapshot())
        if (isLinked(link) && link->OnTxBuf)
            link->OnTxBuf(bytes, done);
    return done;
}

int TComPort::Read(void* buffer, int count)
{
    if (count <= 0)
        return 0;
    if (fd_ < 0)
        throw EComPort(3, EBADF);

    const TComTimeouts& t = Timeouts;
    // Interval -1 with no totals: only what is already waiting.
    const bool immediate =
        t.ReadInterval == -1 && t.ReadTotalMultiplier == 0 && t.ReadTotalConstant == 0;
    // Interval and multiplier -1: what is waiting, else the first byte, within the constant.
    const bool firstByte =
        t.ReadInterval == -1 && t.ReadTotalMultiplier == -1 && t.ReadTotalConstant > 0;
    std::optional<Clock::time_point> deadline;
    if (firstByte)
        deadline = Clock::now() + std::chrono::milliseconds(t.ReadTotalConstant);
    else if (!immediate)
        deadline = totalDeadline(t.ReadTotalMultiplier, t.ReadTotalConstant, count);
    const int interval = t.ReadInterval > 0 ? t.ReadInterval : 0;

    char* bytes = static_cast<char*>(buffer);
    int got = 0;
    Clock::time_point lastByte = Clock::now();
    while (got < count) {
        const ssize_t n = ::read(fd_, bytes + got, size_t(count - got));
        if (n > 0) {
            got += int(n);
            lastByte = Clock::now();
            if (firstByte)
                break;
            continue;
        }
        if (n == 0)
            throw EComPort(3, EIO);   // end of file on a terminal: it has been hung up
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            throw EComPort(3, errno);

        // Nothing more waiting.
        if (immediate)
            break;
        int wait = -1;
        if (deadline) {
            wait = msUntil(*deadline);
            if (wait == 0)
                break;
        }
        if (interval > 0 && got > 0) {
            const int gap = msUntil(lastByte + std::chrono::milliseconds(interval));
            if (gap == 0)
                break;
            wait = wait < 0 ? gap : std::min(wait, gap);
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, wait) < 0 && errno != EINTR)
            throw EComPort(3, errno);
    }
    bytesRead_ += quint64(got);

    bool notify = false;
    for (TComLink* link : links_)
        notify = notify || bool(link->OnRxNotify);
    if (notify) {
        int left = 0;
        if (::ioctl(fd_, FIONREAD, &left) == 0 && left == 0)
            for (TComLink* link : linksSnapshot())
                if (isLinked(link) && link->OnRxNotify)
                    link->OnRxNotify(false);
    }
    return got;
}

int TComPort::BytesWaiting()
{
    if (fd_ < 0)
        throw EComPort(10, EBADF);
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) < 0)
        throw EComPort(10, errno);
    return waiting;
}

int TComPort::ModemStatus()
{
    if (fd_ < 0)
        throw EComPort(11, EBADF);
    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) < 0) {
        if (noModemLines(errno))
            return 0;
        throw EComPort(11, errno);
    }
    int status = 0;
    if (lines & TIOCM_CTS)
        status |= csCTS;
    if (lines & TIOCM_DSR)
        status |= csDSR;
    if (lines & TIOCM_RNG)
        status |= csRing;
    if (lines & TIOCM_CAR)
        status |= csRLSD;
    return status;
}

void TComPort::readModemLinesForLinks()
{
    bool wanted = false;
    for (TComLink* link : links_)
        wanted = wanted || link->OnCTSChange || link->OnDSRChange || link->OnRLSDChange;
    if (!wanted)
        return;
    const int status = ModemStatus();   // EComPort 11 goes to Open's caller; the port stays open
    for (TComLink* link : linksSnapshot())
        if (isLinked(link) && link->OnCTSChange)
            link->OnCTSChange(status & csCTS);
    for (TComLink* link : linksSnapshot())
        if (isLinked(link) && link->OnDSRChange)
            link->OnDSRChange(status & csDSR);
    for (TComLink* link : linksSnapshot())
        if (isLinked(link) && link->OnRLSDChange)
            link->OnRLSDChange(status & csRLSD);
}

void TComPort::AddLink(TComLink* link)
{
    if (!link || isLinked(link))
        throw EComPort(18);
    links_.push_back(link);
}

void TComPort::RemoveLink(TComLink* link)
{
    const auto it = std::find(links_.begin(), links_.end(), link);
    if (!link || it == links_.end())
        throw EComPort(18);
    links_.erase(it);
}

bool TComPort::isLinked(const TComLink* link) const
{
    return std::find(links_.begin(), links_.end(), link) != links_.end();
}

void TComPort::SetSyncMethod(TSyncMethod method)
{
    if (Connected())
        throw EComPort(14);
    syncMethod_ = method;
}

// ---------------------------------------------------------------- settings

void TComPort::ApplySettings()
{
    if (fd_ < 0)
        return;
    applyBuffer();
    applyLineSettings();
    applyTimeouts();
}

void TComPort::applyBuffer()
{
    if (fd_ < 0)
        return;
    // The kernel's queues are fixed; only sizes that cannot be queues at all fail.
    if ((Buffer.InputSize & ~1) <= 0 || (Buffer.OutputSize & ~1) <= 0)
        throw EComPort(9, EINVAL);
}

void TComPort::applyTimeouts()
{
    if (fd_ < 0)
        return;
    // Read and Write use these directly; only values below -1 are meaningless.
    const TComTimeouts& t = Timeouts;
    for (int value : {t.ReadInterval, t.ReadTotalMultiplier, t.ReadTotalConstant,
                      t.WriteTotalMultiplier, t.WriteTotalConstant})
        if (value < -1)
            throw EComPort(8, EINVAL);
}

void TComPort::applyLineSettings()
{
    if (fd_ < 0)
        return;

    termios t{};
    if (::tcgetattr(fd_, &t) < 0)
        throw EComPort(7, errno);
    cfmakeraw(&t);
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | HUPCL;

    switch (DataBits) {
    case dbFive: t.c_cflag |= CS5; break;
    case dbSix: t.c_cflag |= CS6; break;
    case dbSeven: t.c_cflag |= CS7; break;
    case dbEight: t.c_cflag |= CS8; break;
    }
    switch (Parity.Bits) {
    case prNone: break;
    case prOdd: t.c_cflag |= PARENB | PARODD; break;
    case prEven: t.c_cflag |= PARENB; break;
    case prMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case prSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (Parity.Check)
        t.c_iflag |= INPCK;
    if (StopBits != sbOneStopBit)
        t.c_cflag |= CSTOPB;   // no 1.5 on a terminal device: two
    if (FlowControl.OutCTSFlow || FlowControl.ControlRTS == rtsHandshake)
        t.c_cflag |= CRTSCTS;
    if (FlowControl.XonXoffOut)
        t.c_iflag |= IXON;
    if (FlowControl.XonXoffIn)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = cc_t(FlowControl.XonChar);
    t.c_cc[VSTOP] = cc_t(FlowControl.XoffChar);
    // One byte minimum, no timer: with O_NONBLOCK a read then answers EAGAIN
    // when nothing is waiting, and 0 only when the line has been hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    const int rate = BaudRate == brCustom ? CustomBaudRate : kBaudRates[BaudRate];
    if (rate <= 0)
        throw EComPort(7, EINVAL);
    const speed_t code = standardSpeed(rate);
    if (code != B0) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
    if (::tcsetattr(fd_, TCSANOW, &t) < 0)
        throw EComPort(7, errno);
    if (code == B0) {
        if (const int err = SetCustomBaudRate(fd_, rate))
            throw EComPort(7, err);
    }

    // DTR and RTS held as configured; handshaking leaves them to the driver.
    int lower = 0, raise = 0;
    switch (FlowControl.ControlDTR) {
    case dtrDisable: lower |= TIOCM_DTR; break;
    case dtrEnable: raise |= TIOCM_DTR; break;
    case dtrHandshake: break;
    }
    switch (FlowControl.ControlRTS) {
    case rtsDisable:
    case rtsToggle: lower |= TIOCM_RTS; break;
    case rtsEnable: raise |= TIOCM_RTS; break;
    case rtsHandshake: break;
    }
    if (lower && ::ioctl(fd_, TIOCMBIC, &lower) < 0 && !noModemLines(errno))
        throw EComPort(7, errno);
    if (raise && ::ioctl(fd_, TIOCMBIS, &raise) < 0 && !noModemLines(errno))
        throw EComPort(7, errno);
}

// ---------------------------------------------------------------- watcher

void TComPort::startWatcher()
{
    auto w = std::make_shared<Watch>();
    w->fd = fd_;
    w->sync = syncMethod_;
    w->watchRx = std::find(Events.begin(), Events.end(), evRxChar) != Events.end();
    w->stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (w->stopFd < 0)
        throw EComPort(1, errno);
    try {
        w->thread = std::thread(&TComPort::watcherLoop, this, w);
    } catch (const std::system_error& e) {
        throw EComPort(1, e.code().value());
    }
    watch_ = std::move(w);
}

void TComPort::stopWatcher()
{
    // From here on watch_ is empty, so hand-overs still queued do nothing.
    const std::shared_ptr<Watch> w = std::move(watch_);
    watch_.reset();
    if (!w)
        return;
    {
        std::lock_guard<std::mutex> lock(w->m);
        w->stopping = true;
    }
    // A watcher blocked in a hand-over is released by the flag: the window
    // thread need not serve that call, and the call finds its Watch retired.
    w->cv.notify_all();
    const quint64 one = 1;
    if (::write(w->stopFd, &one, sizeof one) < 0) {
        // an eventfd write fails only when its counter is full: it is signalled then
    }
    if (w->thread.get_id() == std::this_thread::get_id())
        w->thread.detach();   // Close from a handler that smNone runs on the watcher itself
    else if (w->thread.joinable())
        w->thread.join();
}

void TComPort::watcherLoop(TComPort* port, std::shared_ptr<Watch> w)
{
    pollfd fds[2] = {{w->fd, short(w->watchRx ? POLLIN : 0), 0}, {w->stopFd, POLLIN, 0}};
    int backoffMs = 0;
    int lostError = 0;
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            lostError = errno;
            break;
        }
        if (fds[1].revents)
            return;
        const short ready = fds[0].revents;
        if (ready & (POLLHUP | POLLERR | POLLNVAL)) {
            // Ask the device what is wrong; a hung-up terminal answers EIO.
            int waiting = 0;
            if (ready & POLLNVAL)
                lostError = EBADF;
            else if (::ioctl(w->fd, FIONREAD, &waiting) < 0)
                lostError = errno;
            else
                lostError = EIO;
            break;
        }
        if (!(ready & POLLIN))
            continue;

        const bool consumed = handOver(port, w);
        {
            std::lock_guard<std::mutex> lock(w->m);
            if (w->stopping)
                return;
        }
        if (consumed) {
            backoffMs = 0;
            continue;
        }
        // Nobody read the bytes: they stay readable, so asking again at once
        // would spin. Wait a little longer each time, up to 32 ms.
        backoffMs = backoffMs ? std::min(backoffMs * 2, 32) : 2;
        pollfd stop{w->stopFd, POLLIN, 0};
        if (::poll(&stop, 1, backoffMs) > 0)
            return;
    }

    // The device has gone away. Tell the owner once, then wait only for Close.
    if (w->sync == smNone) {
        port->deliverDeviceLost(w, lostError);
    } else {
        QMetaObject::invokeMethod(
            port, [port, w, lostError] { port->deliverDeviceLost(w, lostError); },
            Qt::QueuedConnection);
    }
    pollfd stop{w->stopFd, POLLIN, 0};
    while (::poll(&stop, 1, -1) < 0 && errno == EINTR) {
    }
}

bool TComPort::handOver(TComPort* port, const std::shared_ptr<Watch>& w)
{
    if (w->sync == smNone) {
        try {
            return port->deliverRxChar();
        } catch (...) {
            port->reportHandlerException(std::current_exception());
            return true;
        }
    }

    quint64 seq = 0;
    {
        std::lock_guard<std::mutex> lock(w->m);
        seq = ++w->handed;
    }
    QMetaObject::invokeMethod(
        port, [port, w, seq] { port->serveHandOver(w, seq); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(w->m);
    w->cv.wait(lock, [&] { return w->served >= seq || w->stopping; });
    return w->stopping || w->consumed;
}

void TComPort::serveHandOver(const std::shared_ptr<Watch>& w, quint64 seq)
{
    bool consumed = true;
    if (w == watch_) {   // else the device was closed after the call was posted
        try {
            consumed = deliverRxChar();
        } catch (...) {
            reportHandlerException(std::current_exception());
        }
    }
    {
        std::lock_guard<std::mutex> lock(w->m);
        w->served = seq;
        w->consumed = consumed;
    }
    w->cv.notify_all();
}

// Character received, on the window thread. Returns whether anything was
// read while it ran (or nothing was waiting), so the watcher knows whether
// the bytes it saw are still there untouched.
bool TComPort::deliverRxChar()
{
    int count = 0;
    try {
        count = BytesWaiting();
    } catch (const EComPort&) {
        return true;   // the device is failing: the watcher sees that next
    }
    if (count <= 0)
        return true;

    for (TComLink* link : linksSnapshot())
        if (isLinked(link) && link->OnRxNotify)
            link->OnRxNotify(true);
    if (fd_ < 0)
        return true;

    bool bufferLinks = false;
    for (TComLink* link : links_)
        bufferLinks = bufferLinks || bool(link->OnRxBuf);
    if (bufferLinks) {
        std::vector<char> data(size_t(count), '\0');
        const int got = Read(data.data(), count);
        for (TComLink* link : linksSnapshot())
            if (isLinked(link) && link->OnRxBuf)
                link->OnRxBuf(data.data(), got);
        return true;
    }

    if (!OnRxChar)
        return false;
    const quint64 before = bytesRead_;
    OnRxChar(this, count);
    return fd_ < 0 || bytesRead_ != before;
}

void TComPort::deliverDeviceLost(const std::shared_ptr<Watch>& w, int osError)
{
    if (w != watch_ || deviceLost_)
        return;   // closed (and perhaps opened again) since, or already told
    deviceLost_ = true;
    const QString reason = QString::fromLocal8Bit(std::strerror(osError));
    for (TComLink* link : linksSnapshot()) {
        if (!isLinked(link) || !link->OnDeviceLost)
            continue;
        try {
            link->OnDeviceLost(osError, reason);
        } catch (...) {
            reportHandlerException(std::current_exception());
        }
    }
}

void TComPort::reportHandlerException(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const std::exception& ex) {
        if (OnHandlerException) {
            try {
                OnHandlerException(ex);
                return;
            } catch (...) {
            }
        }
        qWarning("TComPort %s: %s", qPrintable(port_), ex.what());
    } catch (...) {
        qWarning("TComPort %s: a handler failed", qPrintable(port_));
    }
}
