#include "RelayLink.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#include "app/PortMessages.h"
#include "link/FrameTrace.h"

#include <algorithm>

namespace {

// A read returns at once with what is waiting, else with the first byte or
// after this slice; the reply's own time-out is counted around it.
constexpr int kReadSliceMs = 20;
// The window's default device; a path given on the command line is opened as it.
const char* const kPathPortName = "COM1";

bool IsComName(const QString& port)
{
    static const QRegularExpression com(QStringLiteral("^COM[1-9][0-9]?$"),
                                        QRegularExpression::CaseInsensitiveOption);
    return com.match(port).hasMatch();
}

}  // namespace

QString ExceptionText(int code)
{
    switch (code) {
    case 1: return QStringLiteral("1 (illegal function)");
    case 2: return QStringLiteral("2 (illegal data address)");
    case 3: return QStringLiteral("3 (illegal data value)");
    case 4: return QStringLiteral("4 (device failure)");
    default: return QString::number(code);
    }
}

RelayLink::RelayLink(const LinkSettings& settings) : settings_(settings)
{
    port_.BaudRate = br9600;
    port_.StopBits = sbOneStopBit;
    port_.DataBits = dbEight;
    // Requests are answered in turn here, so no watcher is needed.
    port_.Events.clear();
    port_.Timeouts.ReadInterval = -1;
    port_.Timeouts.ReadTotalMultiplier = -1;
    port_.Timeouts.ReadTotalConstant = kReadSliceMs;
    port_.Timeouts.WriteTotalMultiplier = 0;
    port_.Timeouts.WriteTotalConstant = 0;
}

RelayLink::~RelayLink() = default;

bool RelayLink::Open(QString& failure)
{
    if (IsComName(settings_.port)) {
        port_.SetPort(settings_.port);
    } else {
        // A path goes where the window's mapping looks for COM1's device.
        qputenv("ZASHCHITA_COM1", QFile::encodeName(settings_.port));
        port_.SetPort(QString::fromLatin1(kPathPortName));
    }
    try {
        port_.Open();
    } catch (const EComPort& e) {
        failure = QStringLiteral("cannot open the port\n%1")
                      .arg(PortFailureDetail(port_.DevicePath(), e.OsErrorCode, e.Message()));
        return false;
    }
    return true;
}

void RelayLink::DropWaitingBytes()
{
    uint8_t stale[kRxBufferSize];
    for (int waiting = port_.BytesWaiting(); waiting > 0; waiting = port_.BytesWaiting())
        if (port_.Read(stale, std::min(waiting, int(sizeof stale))) <= 0)
            break;
}

ReplyVerdict RelayLink::Exchange()
{
    link_.SealTxFrame();
    // Whatever is on the line now answers an earlier request.
    DropWaitingBytes();
    link_.RxCount = 0;
    link_.RecordSent();
    TraceRequest(link_.TxFrame, kRequestLength);
    port_.Write(link_.TxFrame, kRequestLength);

    const QDeadlineTimer deadline(settings_.timeoutMs);
    uint8_t chunk[kRxBufferSize];
    while (!deadline.hasExpired()) {
        const int count = port_.Read(chunk, int(sizeof chunk));
        for (int i = 0; i < count; ++i) {
            link_.AppendRxByte(chunk[i]);
            const ReplyVerdict verdict = link_.AssessReply();
            if (verdict == ReplyVerdict::Incomplete)
                continue;
            TraceReply(link_.RxBuffer, link_.ReplyDataLength + 5, verdict);
            if (verdict != ReplyVerdict::NotAnswer)
                return verdict;
            link_.RxCount = 0;   // someone else's frame: ours may still come
        }
    }
    TraceTimeOut(link_.Sent);
    if (link_.RxCount > 0)
        TraceDropped(link_.RxBuffer, link_.RxCount);
    return ReplyVerdict::Incomplete;
}

BlockRead RelayLink::Read(const RegisterBlock& block)
{
    BlockRead read;
    read.block = block;
    bool spoilt = false;
    for (int attempt = 0; attempt <= settings_.retries; ++attempt) {
        FillReadRequest(link_.TxFrame, settings_.address, block.first, block.count);
        const ReplyVerdict verdict = Exchange();
        if (verdict == ReplyVerdict::ReadValid) {
            for (int reg = block.first; reg < block.first + block.count; ++reg)
                read.values.push_back(ReplyRegister(link_.RxBuffer, block.first, reg));
            read.ok = true;
            return read;
        }
        if (verdict == ReplyVerdict::Refused) {
            read.failure = QStringLiteral("the relay at address %1 refused to read registers %2 to %3: "
                                          "exception %4")
                               .arg(settings_.address).arg(block.first).arg(block.first + block.count - 1)
                               .arg(ExceptionText(link_.RxBuffer[2]));
            return read;
        }
        spoilt = spoilt || verdict == ReplyVerdict::BadCrc;
    }
    read.failure = QStringLiteral("%1 from the relay at address %2 on %3 to a read of registers %4 to %5 "
                                  "(%6 requests, %7 ms each)")
                       .arg(spoilt ? QStringLiteral("no sound reply") : QStringLiteral("no reply"))
                       .arg(settings_.address).arg(DevicePath()).arg(block.first)
                       .arg(block.first + block.count - 1).arg(settings_.retries + 1).arg(settings_.timeoutMs);
    return read;
}

RegisterWrite RelayLink::Write(int reg, uint16_t value)
{
    RegisterWrite write;
    // Writing the same value again is harmless, so an echo lost on the line
    // is asked for again like a lost read.
    for (int attempt = 0; attempt <= settings_.retries; ++attempt) {
        FillWriteRequest(link_.TxFrame, settings_.address, reg, value);
        const ReplyVerdict verdict = Exchange();
        if (verdict == ReplyVerdict::WriteEcho) {
            write.outcome = WriteOutcome::Confirmed;
            return write;
        }
        if (verdict == ReplyVerdict::WriteAltered) {
            write.outcome = WriteOutcome::Altered;
            write.stored = uint16_t(link_.RxBuffer[4] << 8 | link_.RxBuffer[5]);
            return write;
        }
        if (verdict == ReplyVerdict::Refused) {
            write.outcome = WriteOutcome::Refused;
            write.exceptionCode = link_.RxBuffer[2];
            return write;
        }
    }
    write.outcome = WriteOutcome::NoEcho;
    return write;
}
