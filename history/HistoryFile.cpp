#include "history/HistoryFile.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <array>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

#include "settings/AtomicFile.h"

namespace {

// The layout, all numbers little-endian:
//   header:  "ZTRH", version (2), address (2), port's length (2), port (UTF-8), check sum (2)
//   sample:  'F', flags (1), ms (8), the block's registers (2 each), check sum (2)
//   second:  'S', flags (1), first ms (8), last ms (8), registers of the last
//            sample, each channel's lowest and highest (2 each), check sum (2)
// flags: bit 0, the link was lost before it. A check sum covers the bytes
// of its record or header before it (CRC-16, ISO 3309).
const QByteArray kMagic = QByteArrayLiteral("ZTRH");
constexpr quint16 kVersion = 1;
constexpr char kSampleTag = 'F';
constexpr char kSecondTag = 'S';
constexpr quint8 kAfterGap = 1;
constexpr qsizetype kSampleBytes = 2 + 8 + 2 * kBlockRegisters + 2;
constexpr qsizetype kSecondBytes = 2 + 8 + 8 + 2 * kBlockRegisters + 4 * kTrendChannels + 2;
constexpr qint64 kFutureMs = 60 * 1000;   // a sample this far past the PC's clock is from a wrong one
// A whole copy is written once as many records were appended as it held, and
// not before this many (ten minutes at twelve samples a second).
constexpr qint64 kFewestAppended = 12 * 600;
constexpr int kLongestPortInName = 60;
constexpr qint64 kStaleCopyMs = 10 * 60 * 1000;

// Records are put together in place, a field at a time, and added whole.
class Record {
public:
    explicit Record(char tag, bool afterGap)
    {
        raw_[0] = tag;
        raw_[1] = char(afterGap ? kAfterGap : 0);
        size_ = 2;
    }
    void Put16(quint16 value)
    {
        qToLittleEndian(value, raw_.data() + size_);
        size_ += 2;
    }
    void Put64(qint64 value)
    {
        qToLittleEndian(value, raw_.data() + size_);
        size_ += 8;
    }
    void PutRegisters(const BlockSample& sample)
    {
        for (uint16_t reg : sample.regs)
            Put16(reg);
    }
    // Sealed with its check sum, onto `bytes`.
    void AddTo(QByteArray& bytes)
    {
        Put16(qChecksum(QByteArrayView(raw_.data(), size_), Qt::ChecksumIso3309));
        bytes.append(raw_.data(), size_);
    }

private:
    std::array<char, 128> raw_{};
    qsizetype size_ = 0;
};
static_assert(kSecondBytes <= 128 && kSampleBytes <= 128);

quint16 Get16(const char* at)
{
    const auto* bytes = reinterpret_cast<const uchar*>(at);
    return quint16(bytes[0] | bytes[1] << 8);
}

qint64 Get64(const char* at)
{
    quint64 value = 0;
    for (int n = 7; n >= 0; --n)
        value = value << 8 | reinterpret_cast<const uchar*>(at)[n];
    return qint64(value);
}

quint16 CheckSum(const char* from, qsizetype size)
{
    return qChecksum(QByteArrayView(from, size), Qt::ChecksumIso3309);
}

void GetRegisters(const char* at, BlockSample& sample)
{
    for (size_t r = 0; r < sample.regs.size(); ++r)
        sample.regs[r] = Get16(at + 2 * r);
}

QByteArray Header(const RelayId& relay)
{
    const QByteArray port = relay.port.toUtf8();
    QByteArray bytes = kMagic;
    char raw[6];
    qToLittleEndian(kVersion, raw);
    qToLittleEndian(quint16(relay.address), raw + 2);
    qToLittleEndian(quint16(port.size()), raw + 4);
    bytes.append(raw, 6);
    bytes += port;
    qToLittleEndian(CheckSum(bytes.constData(), bytes.size()), raw);
    bytes.append(raw, 2);
    return bytes;
}

void PutSample(QByteArray& bytes, const BlockSample& sample)
{
    Record record(kSampleTag, sample.afterGap);
    record.Put64(sample.ms);
    record.PutRegisters(sample);
    record.AddTo(bytes);
}

void PutSecond(QByteArray& bytes, const TrendSecond& second)
{
    Record record(kSecondTag, second.afterGap);
    record.Put64(second.startMs);
    record.Put64(second.last.ms);
    record.PutRegisters(second.last);
    for (int c = 0; c < kTrendChannels; ++c) {
        record.Put16(second.low[size_t(c)]);
        record.Put16(second.high[size_t(c)]);
    }
    record.AddTo(bytes);
}

BlockSample GetSample(const char* at)
{
    BlockSample sample;
    sample.afterGap = quint8(at[1]) & kAfterGap;
    sample.ms = Get64(at + 2);
    GetRegisters(at + 10, sample);
    return sample;
}

TrendSecond GetSecond(const char* at)
{
    TrendSecond second;
    second.afterGap = quint8(at[1]) & kAfterGap;
    second.startMs = Get64(at + 2);
    second.last.ms = Get64(at + 10);
    GetRegisters(at + 18, second.last);
    const char* extremes = at + 18 + 2 * kBlockRegisters;
    for (int c = 0; c < kTrendChannels; ++c) {
        second.low[size_t(c)] = Get16(extremes + 4 * c);
        second.high[size_t(c)] = Get16(extremes + 4 * c + 2);
    }
    return second;
}

// The relay a header names, or nullopt for no header of ours.
std::optional<RelayId> ReadHeader(const QByteArray& data, qsizetype& end)
{
    QDataStream in(data);
    in.setByteOrder(QDataStream::LittleEndian);
    char magic[4] = {};
    quint16 version = 0, address = 0, portBytes = 0, sum = 0;
    in.readRawData(magic, 4);
    in >> version >> address >> portBytes;
    QByteArray port(portBytes, '\0');
    in.readRawData(port.data(), portBytes);
    in >> sum;
    end = 4 + 2 + 2 + 2 + portBytes + 2;
    if (in.status() != QDataStream::Ok || QByteArray(magic, 4) != kMagic || version != kVersion
        || sum != qChecksum(QByteArrayView(data).first(end - 2), Qt::ChecksumIso3309))
        return std::nullopt;
    return RelayId{QString::fromUtf8(port), int(address), {}};
}

// Writes all of `size` bytes; 0 or the error.
int WriteAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        data += n;
        size -= n;
    }
    return 0;
}

// The file at `path` replaced whole: the bytes go to a new file beside it
// (O_EXCL, a name of its own per process and moment), synced, then renamed
// over it, so that the earlier file stays whole until then, as
// settings/AtomicFile does. Its own small writer, as it runs on the copy's
// thread, away from that one's hooks for tests. Nothing on success.
std::optional<AtomicWriteFailure> ReplaceWhole(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary;
    int fd = -1;
    for (int n = 0; fd < 0 && n < 100; ++n) {
        temporary = target + ".new-" + QByteArray::number(::getpid()) + '-'
            + QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '-' + QByteArray::number(n);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return AtomicWriteFailure{errno, SystemReason(errno)};
    int error = WriteAll(fd, bytes.constData(), bytes.size());
    if (!error && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.constData());
        return AtomicWriteFailure{error, SystemReason(error)};
    }
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);   // the rename itself through a power cut, where the file system can
        ::close(folder);
    }
    return std::nullopt;
}

bool AllZero(const QByteArray& data, qsizetype from)
{
    for (qsizetype i = from; i < data.size(); ++i)
        if (data[i] != 0)
            return false;
    return true;
}

}  // namespace

QString HistoryFile::DefaultFolder()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/zashchita/history");
}

QString HistoryFile::PathFor(const QString& folder, const RelayId& relay)
{
    QString port;
    for (QChar c : relay.port)
        port += c.isLetterOrNumber() && c.unicode() < 128 ? c : QLatin1Char('_');
    while (port.startsWith(QLatin1Char('_')))
        port.remove(0, 1);
    port.truncate(kLongestPortInName);
    // Two ports that read alike here ("/dev/a_b", "/dev/a/b") differ in the hash.
    const QByteArray exact = relay.port.toUtf8() + '\n' + QByteArray::number(relay.address);
    const QString hash = QString::fromLatin1(QCryptographicHash::hash(exact, QCryptographicHash::Sha1).toHex().left(8));
    return QStringLiteral("%1/%2_%3_%4.trend").arg(folder, port).arg(relay.address).arg(hash);
}

HistoryFile::HistoryFile(const QString& path, const RelayId& relay) : path_(path), relay_(relay) {}

HistoryFile::LoadResult HistoryFile::setAside(const QString& suffix, const QString& why)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = QStringLiteral("%1.%2-%3").arg(path_, suffix, stamp);
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = QStringLiteral("%1.%2-%3-%4").arg(path_, suffix, stamp).arg(n);
    QFile file(path_);
    LoadResult result{Outcome::SetAside, {}};
    if (file.rename(aside)) {
        rewriteDue_ = true;
        result.message = QStringLiteral("Файл истории трендов %1 %2. Он переименован в %3 и не загружается.")
                             .arg(path_, why, aside);
    } else {
        untouchable_ = true;
        result.message = QStringLiteral("Файл истории трендов %1 %2 и не может быть переименован (%3). "
                                        "История этого реле до закрытия окна не сохраняется.")
                             .arg(path_, why, file.errorString());
    }
    return result;
}

HistoryFile::LoadResult HistoryFile::Load(TrendHistory& history, qint64 nowMs)
{
    history.Clear();
    // Copies a crash left half-written (none is written for this long).
    const QFileInfo self(path_);
    for (const QFileInfo& stale : QDir(self.absolutePath()).entryInfoList({self.fileName() + QStringLiteral(".new-*")}, QDir::Files))
        if (stale.lastModified().msecsTo(QDateTime::currentDateTime()) > kStaleCopyMs)
            QFile::remove(stale.absoluteFilePath());
    QFile file(path_);
    if (!file.exists())
        return {};
    if (file.size() > kLargestFile)
        return setAside(QStringLiteral("damaged"), QStringLiteral("больше %1 МБ").arg(kLargestFile >> 20));
    if (!file.open(QIODevice::ReadOnly)) {
        untouchable_ = true;
        return {Outcome::SetAside, QStringLiteral("Файл истории трендов %1 не читается (%2). История этого реле "
                                                  "до закрытия окна не сохраняется.")
                                       .arg(path_, file.errorString())};
    }
    const QByteArray data = file.read(kLargestFile);
    file.close();

    qsizetype at = 0;
    const std::optional<RelayId> owner = ReadHeader(data, at);
    if (!owner)
        return setAside(QStringLiteral("damaged"), QStringLiteral("поврежден (заголовок не читается)"));
    if (!owner->SameRelay(relay_))
        return setAside(QStringLiteral("other-relay"), QStringLiteral("записан для другого реле (%1)").arg(owner->Text()));

    qint64 records = 0;
    QString damage;
    bool dropped = false;   // a torn tail or samples from a wrong clock: the file is written anew
    while (at < data.size()) {
        const char tag = data[at];
        const qsizetype size = tag == kSampleTag ? kSampleBytes : tag == kSecondTag ? kSecondBytes : 0;
        const bool whole = size > 0 && at + size <= data.size()
            && Get16(data.constData() + at + size - 2) == CheckSum(data.constData() + at, size - 2);
        if (!whole) {
            // A crash while appending leaves the last record short, or zeros.
            if ((size > 0 && at + size >= data.size()) || AllZero(data, at)) {
                dropped = true;
                break;
            }
            damage = QStringLiteral("запись %1 повреждена").arg(records + 1);
            break;
        }
        if (tag == kSecondTag) {
            const TrendSecond second = GetSecond(data.constData() + at);
            if (second.last.ms > nowMs + kFutureMs) {
                dropped = true;
                break;
            }
            if (!history.RestoreSecond(second)) {
                damage = QStringLiteral("запись %1 не по порядку").arg(records + 1);
                break;
            }
        } else {
            const BlockSample sample = GetSample(data.constData() + at);
            if (sample.ms > nowMs + kFutureMs) {
                dropped = true;
                break;
            }
            history.Add(sample);
        }
        ++records;
        at += size;
    }
    writtenRecords_ = qint64(history.Seconds().size() + history.FullRate().size());
    appendedRecords_ = records - writtenRecords_;
    if (!damage.isEmpty())
        return setAside(QStringLiteral("damaged"),
                        QStringLiteral("поврежден (%1; прочитаны записи до нее)").arg(damage));
    rewriteDue_ = dropped;
    return {Outcome::Loaded, {}};
}

void HistoryFile::Append(const BlockSample& sample)
{
    if (untouchable_)
        return;
    PutSample(pending_, sample);
    ++pendingRecords_;
}

HistoryFile::~HistoryFile()
{
    Settle();
}

void HistoryFile::Settle()
{
    if (copy_.valid())
        copy_.wait();
}

bool HistoryFile::copyWritten(QString* reason)
{
    if (!copy_.valid())
        return true;
    const std::optional<AtomicWriteFailure> failure = copy_.get();
    if (failure) {
        rewriteDue_ = true;
        if (reason)
            *reason = failure->reason;
        return false;
    }
    writtenRecords_ = copyRecords_;
    appendedRecords_ = 0;
    return true;
}

bool HistoryFile::Flush(const TrendHistory& history, QString* reason, bool waitForCopy)
{
    if (untouchable_)
        return true;
    // A copy still on its way: what came since waits for it, unless told to wait.
    if (waitForCopy)
        Settle();
    else if (copy_.valid() && copy_.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return true;
    if (!copyWritten(reason)) {
        pending_.clear();
        pendingRecords_ = 0;
        return false;
    }
    if (pending_.isEmpty())
        return true;
    if (rewriteDue_ || appendedRecords_ + pendingRecords_ >= std::max(kFewestAppended, writtenRecords_))
        return rewrite(history, reason);
    return append(reason);
}

bool HistoryFile::append(QString* reason)
{
    const int fd = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        rewriteDue_ = true;   // gone meanwhile: written anew next time
        if (reason)
            *reason = SystemReason(errno);
        return false;
    }
    int error = WriteAll(fd, pending_.constData(), pending_.size());
    if (::close(fd) != 0 && !error)
        error = errno;
    if (error) {
        // What was appended may end mid-record: the next write is a whole copy.
        rewriteDue_ = true;
        pending_.clear();
        pendingRecords_ = 0;
        if (reason)
            *reason = SystemReason(error);
        return false;
    }
    appendedRecords_ += pendingRecords_;
    pending_.clear();
    pendingRecords_ = 0;
    return true;
}

bool HistoryFile::rewrite(const TrendHistory& history, QString* reason)
{
    pending_.clear();
    pendingRecords_ = 0;
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder)) {
        rewriteDue_ = true;
        if (reason)
            *reason = QStringLiteral("cannot create %1").arg(folder);
        return false;
    }
    rewriteDue_ = false;
    copyRecords_ = qint64(history.Seconds().size() + history.FullRate().size());
    // The history as it is now, put into bytes and written on the thread.
    copy_ = std::async(std::launch::async, [path = path_, header = Header(relay_), seconds = history.Seconds(),
                                            samples = history.FullRate()] {
        QByteArray bytes = header;
        bytes.reserve(bytes.size() + qsizetype(seconds.size()) * kSecondBytes + qsizetype(samples.size()) * kSampleBytes);
        for (const TrendSecond& second : seconds)
            PutSecond(bytes, second);
        for (const BlockSample& sample : samples)
            PutSample(bytes, sample);
        return ReplaceWhole(path, bytes);
    });
    return true;
}
