#include "report/TripArchive.h"

#include "serial/OsError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A record line is small; anything much longer is no record of ours.
constexpr qint64 kMaxLineBytes = 4096;

}  // namespace

TripArchive::TripArchive(QString path) : path_(std::move(path)) {}

QString TripArchive::KeyOf(const QString& line, int address, const std::vector<uint16_t>& registers)
{
    QString key = line + QLatin1Char('\n') + QString::number(address);
    for (uint16_t value : registers)
        key += QLatin1Char(',') + QString::number(value);
    return key;
}

bool TripArchive::Knows(const QString& line, int address, const std::vector<uint16_t>& registers) const
{
    return known_.contains(KeyOf(line, address, registers));
}

const ArchivedRelay* TripArchive::Relay(const QString& line, int address) const
{
    const auto at = relays_.find({line, address});
    return at == relays_.end() ? nullptr : &at->second;
}

void TripArchive::keep(const ArchivedRecord& r)
{
    known_.insert(KeyOf(r.line, r.address, r.registers));
    ArchivedRelay& relay = relays_[{r.line, r.address}];
    if (r.history)
        return;
    ++relay.trips[r.cause];
    relay.recent.push_back(r);
    if (relay.recent.size() > ArchivedRelay::kRecentTrips)
        relay.recent.erase(relay.recent.begin());
}

QString RecordId(const QString& line, int address, const std::vector<uint16_t>& registers)
{
    // FNV-1a: the same on every build and start, unlike a seeded hash.
    uint32_t hash = 2166136261u;
    QString key = line + QLatin1Char('\n') + QString::number(address);
    for (uint16_t value : registers)
        key += QLatin1Char(',') + QString::number(value);
    for (char c : key.toUtf8()) {
        hash ^= uint8_t(c);
        hash *= 16777619u;
    }
    return QStringLiteral("%1").arg(hash, 8, 16, QLatin1Char('0'));
}

QByteArray TripArchive::LineOf(const ArchivedRecord& r)
{
    QJsonArray registers;
    for (uint16_t value : r.registers)
        registers.append(int(value));
    const QJsonObject object{
        {QStringLiteral("seen"), r.seen.toUTC().toString(Qt::ISODate)},
        {QStringLiteral("line"), r.line},
        {QStringLiteral("relay"), r.relay},
        {QStringLiteral("address"), r.address},
        {QStringLiteral("record"), r.slot},
        {QStringLiteral("cause"), r.cause},
        {QStringLiteral("registers"), registers},
    };
    QJsonObject line = object;
    if (r.history)
        line.insert(QStringLiteral("history"), true);
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

bool TripArchive::ParseLine(const QByteArray& text, ArchivedRecord& out)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject o = doc.object();
    const QJsonArray registers = o.value(QStringLiteral("registers")).toArray();
    const int slot = o.value(QStringLiteral("record")).toInt();
    const bool looked = registers.isEmpty() && slot == 0 && o.value(QStringLiteral("history")).toBool();
    if ((!looked && (registers.size() != kRecordLength || slot < 1 || slot > kRecordCount))
        || !o.value(QStringLiteral("line")).isString() || !o.value(QStringLiteral("address")).isDouble())
        return false;
    ArchivedRecord r;
    r.seen = QDateTime::fromString(o.value(QStringLiteral("seen")).toString(), Qt::ISODate);
    r.line = o.value(QStringLiteral("line")).toString();
    r.relay = o.value(QStringLiteral("relay")).toString();
    r.address = o.value(QStringLiteral("address")).toInt();
    r.slot = slot;
    r.cause = o.value(QStringLiteral("cause")).toString();
    r.history = o.value(QStringLiteral("history")).toBool();
    for (const QJsonValue& v : registers) {
        const int value = v.toInt(-1);
        if (!v.isDouble() || value < 0 || value > 0xFFFF)
            return false;
        r.registers.push_back(uint16_t(value));
    }
    out = r;
    return true;
}

QString RecordMomentText(const std::vector<uint16_t>& r)
{
    if (r.size() < 5)
        return QString();
    return QString::asprintf("%02u-%02u %02u:%02u:%02u", r[0], r[1], r[2], r[3], r[4]);
}

bool TripArchive::Load(QString* error)
{
    known_.clear();
    relays_.clear();
    skipped_ = 0;
    QFile file(path_);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    while (!file.atEnd()) {
        const QByteArray text = file.readLine(kMaxLineBytes);
        ArchivedRecord r;
        if (!text.endsWith('\n') && !file.atEnd()) {
            // Longer than any record: pass over the rest of it.
            while (!file.atEnd() && !file.readLine(kMaxLineBytes).endsWith('\n')) {
            }
            ++skipped_;
        } else if (ParseLine(text.trimmed(), r)) {
            keep(r);
        } else if (!text.trimmed().isEmpty()) {
            ++skipped_;
        }
    }
    return true;
}

bool TripArchive::Add(const ArchivedRecord& record, QString* error)
{
    const QString key = KeyOf(record.line, record.address, record.registers);
    if (known_.contains(key))
        return false;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    auto fail = [error](int code) {
        if (error)
            *error = OsErrorText(code);
        return false;
    };
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(errno);
    struct stat st{};
    QByteArray text = LineOf(record);
    char last = '\n';
    if (::fstat(fd, &st) != 0 || (st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) != 1)) {
        const int code = errno;
        ::close(fd);
        return fail(code);
    }
    // A line left without its end by a write cut short stays apart from this one.
    if (last != '\n')
        text.prepend('\n');
    qsizetype done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.constData() + done, size_t(text.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    if (done < text.size() || ::fdatasync(fd) != 0) {
        const int code = errno ? errno : EIO;
        // The file as it was before, byte for byte.
        if (::ftruncate(fd, st.st_size) == 0)
            ::fdatasync(fd);
        ::close(fd);
        return fail(code);
    }
    ::close(fd);
    keep(record);
    return true;
}

bool TripArchive::CheckWritable(QString* error) const
{
    const QString folder = QFileInfo(path_).absolutePath();
    const auto fail = [&](const QString& what, int code) {
        if (error)
            *error = QStringLiteral("cannot write to the state folder %1: %2: %3").arg(folder, what, OsErrorText(code));
        return false;
    };
    // Made one level at a time, so that the level that cannot be made is the one named.
    QString made;
    for (const QString& part : folder.split(QLatin1Char('/'))) {
        made += part + QLatin1Char('/');
        if (!part.isEmpty() && ::mkdir(QFile::encodeName(made).constData(), 0755) != 0 && errno != EEXIST)
            return fail(QStringLiteral("cannot make %1").arg(QDir::cleanPath(made)), errno);
    }
    const int fd = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(QStringLiteral("cannot open %1 for appending").arg(QFileInfo(path_).fileName()), errno);
    ::close(fd);
    return true;
}

bool IsEmptyRecord(const std::vector<uint16_t>& registers)
{
    return std::all_of(registers.begin(), registers.end(), [](uint16_t v) { return v == 0; });
}
