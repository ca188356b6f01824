// The relay's line reached over TCP: a serial device server's raw TCP port
// that passes the RTU frames through unchanged (TcpLine), or a Modbus TCP
// gateway (MbapLine, which derives from it). Plain POSIX sockets, watched
// through the event loop of the thread that opened the line, so every
// handler runs there between the front end's other events.
//
// Bytes arrive in network segments as they please: the line hands the link
// what has come, and the link assembles the reply by its byte counts.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "link/Endpoint.h"
#include "link/LinePort.h"
#include "link/Mbap.h"
#include "serial/ComError.h"

class QSocketNotifier;
class QTimer;

// A line that could not be opened. OsErrorCode is the system's error number
// where there is one (a refused connection); otherwise what() is the reason
// (a host name that does not resolve).
class ELineOpen : public EComPort {
public:
    ELineOpen(int osError, const QString& reason);
    const char* what() const noexcept override { return reason_.c_str(); }

private:
    std::string reason_;
};

class TcpLine : public QObject, public ILinePort {
public:
    explicit TcpLine(QObject* parent = nullptr);
    ~TcpLine() override;

    // Connects to `endpoint`, waiting at most `timeoutMs`. Throws ELineOpen
    // with the system's reason when it cannot.
    void Connect(const Endpoint& endpoint, int timeoutMs);
    // Takes an already connected stream socket of its own (a socketpair in
    // the tests) as the line named `name`.
    void Adopt(int fd, const QString& name);
    // Closes the connection now; nothing is handed on after it returns.
    void Close();
    QString Name() const { return name_; }

    bool IsOpen() const override { return fd_ >= 0; }
    void WriteByte(uint8_t b) override { WriteBytes(&b, 1); }
    bool ReadByte(uint8_t& b) override { return ReadBytes(&b, 1) == 1; }
    int BytesWaiting() override { return int(rx_.size()); }
    void WriteBytes(const uint8_t* bytes, int count) override { Transmit(bytes, count); }
    int ReadBytes(uint8_t* bytes, int count) override;
    void HoldRx(std::chrono::nanoseconds time) override;
    int64_t ArrivalNs() const override { return arrivalNs_; }
    // Not by itself: behind a raw TCP port there may be a 9600 wire, or a
    // device with RTU framing or a gateway answering from its cache at once,
    // and the network delays and bunches what a wire would pace. The line
    // timing rule holds there only when asked for.
    bool KeepsLineTime() const override { return false; }

    // Bytes for the link are waiting (their count). Not called again while
    // it runs: bytes that come meanwhile are told once it has returned.
    std::function<void(int count)> OnReceived;
    // The connection broke or the other side closed it; told once, and the
    // line stays quiet (but open) until Close.
    std::function<void(int osError, const QString& reason)> OnLost;

    // Times the event loop woke the line: lets a test tell a line that
    // waits from one that spins.
    quint64 WakeUps() const { return wakeUps_; }

protected:
    // A frame of the link goes out: as it is on a raw line.
    virtual void Transmit(const uint8_t* frame, int count) { SendAll(frame, count); }
    // Bytes came off the connection: handed to the link as they are.
    virtual void TakeIn(const uint8_t* bytes, int count) { HandOn(bytes, count); }
    // A new connection: nothing of the one before counts.
    virtual void Restart() {}

    void SendAll(const uint8_t* bytes, int count);
    void HandOn(const uint8_t* bytes, int count) { rx_.insert(rx_.end(), bytes, bytes + count); }

private:
    void start(int fd);
    void onReadable();
    void deliver();
    void lose(int osError);

    QString name_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* holdTimer_ = nullptr;
    std::deque<uint8_t> rx_;         // bytes for the link, not yet read by it
    bool lost_ = false;
    int lostError_ = 0;
    bool delivering_ = false;
    bool moreArrived_ = false;       // bytes came while OnReceived ran
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    quint64 wakeUps_ = 0;
    int64_t arrivalNs_ = 0;          // when the bytes last taken off the connection came
};

// A Modbus TCP gateway: each request behind an MBAP header, each reply taken
// off its header and handed to the link as the RTU frame the relay sent. Only
// the reply of the transaction awaited is an answer; a gateway's exception
// 0x0A or 0x0B is no answer of the relay's and is not handed on, so the
// exchange ends as one the relay left unanswered.
class MbapLine : public TcpLine {
public:
    using TcpLine::TcpLine;

protected:
    void Transmit(const uint8_t* frame, int count) override;
    void TakeIn(const uint8_t* bytes, int count) override;
    void Restart() override;
    bool KeepsLineTime() const override { return false; }   // its transaction ids are the check

private:
    std::vector<uint8_t> in_;        // the ADU being assembled
    uint16_t transaction_ = 0;
    mbap::Awaited awaited_;
    bool awaiting_ = false;          // a request awaits its answer
};
