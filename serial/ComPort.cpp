// TComPort: opening and closing, the links, and the character-received
// event. Device names, line settings, timed reads and writes, modem lines
// and the watcher each live in their own file beside this one.
#include "serial/ComPort.h"

#include "serial/DeviceNames.h"
#include "serial/LineSettings.h"
#include "serial/ModemLines.h"
#include "serial/RxWatch.h"
#include "serial/TimedIo.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// An advisory lock on the device for as long as it is open (closing the
// descriptor releases it). 0, or EBUSY when another holds it. A file system
// that cannot lock at all does not keep the port from opening.
int LockDevice(int fd)
{
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno == EWOULDBLOCK)
            return EBUSY;
        if (errno != EINTR)
            return 0;
    }
}

}  // namespace

TComPort::TComPort(QObject* owner) : QObject(owner)
{
    watch_ = new RxWatch(this, {[this](int waiting) { return RxWatch::Outcome(deliverRxChar(waiting)); },
                                [this](int osError) { deliverDeviceLost(osError); }});
}

TComPort::~TComPort()
{
    try {
        Close();
    } catch (const std::exception& e) {
        qWarning("TComPort %s: closing on destruction: %s", qPrintable(port_), e.what());
    }
}

QString TComPort::NormalizePortName(const QString& name) { return DeviceNames::Normalize(name); }

QString TComPort::DevicePathFor(const QString& portName) { return DeviceNames::DevicePathFor(portName); }

quint64 TComPort::WakeUps() const { return watch_->WakeUps(); }
void TComPort::HoldRxChar(std::chrono::nanoseconds time) { watch_->Hold(time); }

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

void TComPort::SetDevicePath(const QString& path)
{
    if (path == givenPath_)
        return;
    givenPath_ = path;
    if (Connected()) {
        Close();
        Open();
    }
}

void TComPort::Open()
{
    if (fd_ >= 0)
        return;

    devicePath_ = givenPath_.isEmpty() ? DevicePathFor(port_) : givenPath_;
    const QByteArray path = QFile::encodeName(devicePath_);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw EComPort(ceOpen, errno);
    // Not shared. The exclusive flag below does not bind root, so the line is
    // also locked: a second program that locks it too (every one of ours)
    // is refused as "in use", the same as the exclusive flag refuses it.
    // Taken first, so a refused open never touches the holder's flag.
    if (int err = LockDevice(fd)) {
        ::close(fd);
        throw EComPort(ceOpen, err);
    }
    // A device that is no terminal at all fails below, at the line settings.
    if (::ioctl(fd, TIOCEXCL) < 0 && !ModemLines::Missing(errno)) {
        const int err = errno;
        ::close(fd);
        throw EComPort(ceOpen, err);
    }

    fd_ = fd;
    deviceLost_ = false;
    try {
        applyBuffer();
        applyLineSettings();
        applyTimeouts();
        LineSettings::RequestLowLatency(fd);
        if (!Events.empty())
            watch_->Start(fd, std::find(Events.begin(), Events.end(), evRxChar) != Events.end());
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

    watch_->Stop();   // from here on nothing is handed on

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
        throw EComPort(ceWrite, EBADF);

    if (anyLink(&TComLink::OnTxNotify))
        for (TComLink* link : linksSnapshot())
            if (isLinked(link) && link->OnTxNotify)
                link->OnTxNotify(true);

    const char* bytes = static_cast<const char*>(buffer);
    const int done = TimedIo::Write(fd_, bytes, count, Timeouts);

    if (anyLink(&TComLink::OnTxBuf))
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
        throw EComPort(ceRead, EBADF);

    const int got = TimedIo::Read(fd_, static_cast<char*>(buffer), count, Timeouts);
    bytesRead_ += quint64(got);

    if (anyLink(&TComLink::OnRxNotify)) {
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
        throw EComPort(ceQueueCount, EBADF);
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) < 0)
        throw EComPort(ceQueueCount, errno);
    return waiting;
}

int TComPort::ModemStatus()
{
    if (fd_ < 0)
        throw EComPort(ceModemStatus, EBADF);
    return ModemLines::Status(fd_);
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
        throw EComPort(ceLink);
    links_.push_back(link);
}

void TComPort::RemoveLink(TComLink* link)
{
    const auto it = std::find(links_.begin(), links_.end(), link);
    if (!link || it == links_.end())
        throw EComPort(ceLink);
    links_.erase(it);
}

bool TComPort::isLinked(const TComLink* link) const
{
    return std::find(links_.begin(), links_.end(), link) != links_.end();
}

void TComPort::SetSyncMethod(TSyncMethod method)
{
    if (Connected())
        throw EComPort(ceSyncWhileOpen);
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
    // The kernel's queues are fixed; only sizes that cannot be queues at all fail.
    if ((Buffer.InputSize & ~1) <= 0 || (Buffer.OutputSize & ~1) <= 0)
        throw EComPort(ceQueueSizes, EINVAL);
}

void TComPort::applyTimeouts()
{
    // Read and Write use these directly; only values below -1 are meaningless.
    const TComTimeouts& t = Timeouts;
    for (int value : {t.ReadInterval, t.ReadTotalMultiplier, t.ReadTotalConstant,
                      t.WriteTotalMultiplier, t.WriteTotalConstant})
        if (value < -1)
            throw EComPort(ceTimeouts, EINVAL);
}

void TComPort::applyLineSettings()
{
    LineSettings::Line line;
    line.rate = LineSettings::RateOf(BaudRate, CustomBaudRate);
    line.dataBits = DataBits;
    line.parity = Parity.Bits;
    line.parityCheck = Parity.Check;
    line.stopBits = StopBits;
    line.flow = FlowControl;
    LineSettings::Apply(fd_, line);
}

// ---------------------------------------------------------------- events

// Character received, on the port's thread, with the count the watcher
// found waiting. Tells the watcher whether anything was read while it ran,
// so that bytes nobody takes are offered again without a spin.
int TComPort::deliverRxChar(int waiting)
{
    const quint64 before = bytesRead_;
    try {
        if (anyLink(&TComLink::OnRxNotify))
            for (TComLink* link : linksSnapshot())
                if (isLinked(link) && link->OnRxNotify)
                    link->OnRxNotify(true);
        if (fd_ < 0)
            return RxWatch::rxTaken;

        if (anyLink(&TComLink::OnRxBuf)) {
            std::vector<char> data(size_t(waiting), '\0');
            const int got = Read(data.data(), waiting);
            for (TComLink* link : linksSnapshot())
                if (isLinked(link) && link->OnRxBuf)
                    link->OnRxBuf(data.data(), got);
            return RxWatch::rxTaken;
        }

        if (OnRxChar)
            OnRxChar(this, waiting);
    } catch (...) {
        reportHandlerException(std::current_exception());
    }
    return fd_ < 0 || bytesRead_ != before ? RxWatch::rxTaken : RxWatch::rxLeft;
}

void TComPort::deliverDeviceLost(int osError)
{
    if (fd_ < 0 || deviceLost_)
        return;
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
