#include "settings/Journal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "exchanges/CountWords.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/RegisterCatalog.h"
#include "settings/AtomicFile.h"

namespace {

const char* const kJournalFolder = "zashchita";
const char* const kJournalFile = "journal.jsonl";
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr int kLargestRegister = 0xFFFF;
constexpr size_t kJournalReadChunk = 64 * 1024;

struct ClockField {
    const char* name;
    const char* caption;
};
// Registers 67 to 71, in order.
constexpr ClockField kClockFields[] = {
    {"clock.month", "Часы защиты: месяц"},   {"clock.day", "Часы защиты: день"},
    {"clock.hour", "Часы защиты: час"},      {"clock.minute", "Часы защиты: минута"},
    {"clock.second", "Часы защиты: секунда"},
};

QByteArray Quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QString Rotated(const QString& path, int n)
{
    return path + QLatin1Char('.') + QString::number(n);
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// The older files move one place on (the oldest is dropped) and the file
// becomes the first of them.
bool Rotate(const QString& path, QString& reason)
{
    for (int n = kJournalKeptFiles - 1; n >= 1; --n) {
        if (::rename(QFile::encodeName(Rotated(path, n)).constData(),
                     QFile::encodeName(Rotated(path, n + 1)).constData()) != 0 && errno != ENOENT) {
            reason = SystemReason(errno);
            return false;
        }
    }
    if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(Rotated(path, 1)).constData()) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    return true;
}

bool AppendLocked(const QString& path, const QByteArray& line, QString& reason, qint64 rotateBytes)
{
    const QByteArray file = QFile::encodeName(path);
    struct stat st {};
    if (::stat(file.constData(), &st) == 0 && st.st_size > 0 && st.st_size + line.size() > rotateBytes
        && !Rotate(path, reason))
        return false;
    const int fd = ::open(file.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kFileMode);
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    int error = 0;
    off_t start = 0;
    if (::fstat(fd, &st) != 0)
        error = errno;
    else
        start = st.st_size;
    if (error == 0 && !WriteAll(fd, line)) {
        error = errno;
        // No half line is left for the next one to follow.
        (void)::ftruncate(fd, start);
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        reason = SystemReason(error);
        return false;
    }
    return true;
}

// Feeds `each` every line of the file at `path` that is an entry, one line
// in memory at a time; a line longer than kMaxJournalLineBytes is no entry
// and is skipped to its end unread. False when `each` asked to stop or the
// file failed; a file that is not there holds no lines.
bool ScanFile(const QString& path, const std::function<bool(const JournalEntry&)>& each, JournalScan& scan)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        scan.failure = QStringLiteral("%1: %2").arg(path, SystemReason(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        scan.failure = QStringLiteral("%1: %2").arg(path, SystemReason(S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
        ::close(fd);
        return false;
    }
    QByteArray line;
    bool overlong = false;
    bool going = true;
    auto endLine = [&] {
        if (overlong)
            ++scan.unreadable;
        else if (!line.trimmed().isEmpty()) {
            JournalEntry entry;
            if (ParseJournalLine(line, entry)) {
                ++scan.entries;
                going = each(entry);
            } else {
                ++scan.unreadable;
            }
        }
        line.clear();
        overlong = false;
    };
    char buffer[kJournalReadChunk];
    while (going) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            scan.failure = QStringLiteral("%1: %2").arg(path, SystemReason(errno));
            going = false;
            break;
        }
        if (n == 0) {
            endLine();
            break;
        }
        for (ssize_t start = 0; going && start < n;) {
            const char* found = static_cast<const char*>(std::memchr(buffer + start, '\n', size_t(n - start)));
            const ssize_t end = found ? found - buffer : n;
            if (!overlong && line.size() + (end - start) <= kMaxJournalLineBytes)
                line.append(buffer + start, end - start);
            else {
                overlong = true;
                line.clear();
            }
            if (found)
                endLine();
            start = end + 1;
        }
    }
    ::close(fd);
    return going && scan.failure.isEmpty();
}

}  // namespace

void WrittenRegisterName(int reg, QString& name, QString& caption)
{
    name.clear();
    caption.clear();
    for (const SettingSpec& definition : SettingSpecs()) {
        if (definition.reg == reg) {
            name = definition.name;
            caption = definition.caption;
            return;
        }
    }
    const int field = reg - kClockFirstRegister;
    if (field >= 0 && field < int(std::size(kClockFields))) {
        name = QLatin1String(kClockFields[field].name);
        caption = QString::fromUtf8(kClockFields[field].caption);
    }
}

QString OutcomeWord(Outcome outcome)
{
    return QString::fromLatin1(OutcomeName(outcome));
}

QString OutcomeText(const JournalEntry& entry)
{
    switch (entry.outcome) {
    case Outcome::Echoed: return QStringLiteral("echoed");
    case Outcome::Refused: return QStringLiteral("refused: exception %1").arg(entry.exceptionCode);
    case Outcome::Altered: return QStringLiteral("the relay stored %1").arg(entry.stored);
    case Outcome::Unconfirmed:
        return QStringLiteral("sent, unconfirmed: the relay may hold either value");
    case Outcome::NoAnswer: break;
    case Outcome::Values:
    case Outcome::NotSent:
    case Outcome::Aborted: return OutcomeWord(entry.outcome);   // no write's end
    }
    return entry.tries > 0 ? QStringLiteral("no answer after %1").arg(CountText(entry.tries, QStringLiteral("try"), QStringLiteral("tries"))) : QStringLiteral("no answer");
}

QByteArray JournalLine(const JournalEntry& e)
{
    QByteArray line = "{\"time\": " + Quoted(e.time) + ", \"program\": " + Quoted(e.program)
        + ", \"device\": " + Quoted(e.device) + ", \"address\": " + QByteArray::number(e.address)
        + ", \"register\": " + QByteArray::number(e.reg) + ", \"name\": " + Quoted(e.name)
        + ", \"caption\": " + Quoted(e.caption)
        + ", \"before\": " + (e.before ? QByteArray::number(*e.before) : QByteArray("null"))
        + ", \"value\": " + QByteArray::number(e.value) + ", \"outcome\": " + Quoted(OutcomeWord(e.outcome));
    if (e.outcome == Outcome::Refused)
        line += ", \"exception\": " + QByteArray::number(e.exceptionCode);
    if (e.outcome == Outcome::Altered)
        line += ", \"stored\": " + QByteArray::number(e.stored);
    line += ", \"tries\": " + QByteArray::number(e.tries) + "}\n";
    return line;
}

bool ParseJournalLine(const QByteArray& line, JournalEntry& e)
{
    const QJsonDocument document = QJsonDocument::fromJson(line);
    if (!document.isObject())
        return false;
    const QJsonObject o = document.object();
    const auto whole = [&](const char* key, int lo, int hi, int& out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isDouble() || v.toDouble() != double(v.toInt()) || v.toInt() < lo || v.toInt() > hi)
            return false;
        out = v.toInt();
        return true;
    };
    int address = 0, reg = 0, value = 0, number = 0;
    if (!o.value(QLatin1String("time")).isString() || !whole("address", 0, 255, address)
        || !whole("register", 0, kLargestRegister, reg) || !whole("value", 0, kLargestRegister, value))
        return false;
    e = JournalEntry{};
    e.time = o.value(QLatin1String("time")).toString();
    e.program = o.value(QLatin1String("program")).toString();
    e.device = o.value(QLatin1String("device")).toString();
    e.address = address;
    e.reg = reg;
    e.name = o.value(QLatin1String("name")).toString();
    e.caption = o.value(QLatin1String("caption")).toString();
    if (whole("before", 0, kLargestRegister, number))
        e.before = uint16_t(number);
    e.value = uint16_t(value);
    const QString outcome = o.value(QLatin1String("outcome")).toString();
    for (Outcome candidate : kWriteEnds)
        if (outcome == OutcomeWord(candidate))
            e.outcome = candidate;
    if (outcome != OutcomeWord(e.outcome))
        return false;
    if (whole("exception", 0, 255, number))
        e.exceptionCode = number;
    if (whole("stored", 0, kLargestRegister, number))
        e.stored = uint16_t(number);
    if (whole("tries", 0, 1 << 30, number))
        e.tries = number;
    return true;
}

QString JournalPath()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QLatin1Char('/') + QLatin1String(kJournalFolder) + QLatin1Char('/') + QLatin1String(kJournalFile);
}

bool AppendJournalLine(const QString& path, const QByteArray& line, QString& reason, qint64 rotateBytes)
{
    const QString folder = QFileInfo(path).absolutePath();
    // The data folder as usual; the journal's own folder for its owner only.
    (void)QDir().mkpath(QFileInfo(folder).absolutePath());
    if (::mkdir(QFile::encodeName(folder).constData(), kFolderMode) != 0 && errno != EEXIST) {
        reason = SystemReason(errno);
        return false;
    }
    const int lock = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lock < 0) {
        reason = SystemReason(errno);
        return false;
    }
    // Two programs appending at once must not rotate under each other.
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    const bool ok = AppendLocked(path, line, reason, rotateBytes);
    ::close(lock);
    return ok;
}

JournalScan ScanJournal(const QString& path, const std::function<bool(const JournalEntry&)>& each)
{
    JournalScan scan;
    for (int n = kJournalKeptFiles; n >= 1; --n)
        if (!ScanFile(Rotated(path, n), each, scan))
            return scan;
    ScanFile(path, each, scan);
    return scan;
}

JournalRead ReadJournal(const QString& path, size_t keep)
{
    JournalRead read;
    std::deque<JournalEntry> newest;
    const JournalScan scan = ScanJournal(path, [&](const JournalEntry& entry) {
        newest.push_back(entry);
        if (newest.size() > keep)
            newest.pop_front();
        return true;
    });
    read.entries.assign(newest.begin(), newest.end());
    read.unreadable = scan.unreadable;
    read.left = scan.entries - qint64(read.entries.size());
    read.failure = scan.failure;
    return read;
}
