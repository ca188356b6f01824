#include "history/StartFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include "history/ReadingsCsv.h"
#include "history/UserFile.h"
#include "settings/IsoTime.h"

namespace {

const QString kSamplesFile = QStringLiteral("samples.csv");
const QString kSummaryFile = QStringLiteral("summary.json");
const QString kPictureFile = QStringLiteral("start.png");

const char* const kEndNames[] = {"finished", "limit", "motor-off", "link-lost"};

QString Stamp(qint64 ms)
{
    return IsoTimeText(QDateTime::fromMSecsSinceEpoch(ms), IsoPrecision::Milliseconds);
}

qint64 MsOf(const QJsonValue& value)
{
    const QDateTime at = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return at.isValid() ? at.toMSecsSinceEpoch() : -1;
}

QString Amperes(double amps)
{
    return QString::number(amps, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

}  // namespace

QString StartsFolder()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/zashchita/starts");
}

QByteArray StartSummaryJson(const StartSummary& s, int ratedCentiAmps, const RelayId& relay)
{
    QJsonObject o;
    o[QStringLiteral("switchOn")] = Stamp(s.switchOnMs);
    o[QStringLiteral("finished")] = s.finishedMs < 0 ? QJsonValue() : QJsonValue(Stamp(s.finishedMs));
    o[QStringLiteral("timeToFinishMs")] = s.finishedMs < 0 ? QJsonValue() : QJsonValue(s.TimeToFinishMs());
    o[QStringLiteral("end")] = QString::fromLatin1(kEndNames[int(s.end)]);
    QJsonArray percent, amps;
    for (uint16_t p : s.peakPercent) {
        percent.append(int(p));
        amps.append(ratedCentiAmps > 0 ? QJsonValue(PeakAmperes(p, ratedCentiAmps)) : QJsonValue());
    }
    o[QStringLiteral("peakPercent")] = percent;
    o[QStringLiteral("peakAmperes")] = amps;
    o[QStringLiteral("ratedCurrentA")] = ratedCentiAmps > 0 ? QJsonValue(ratedCentiAmps / 100.0) : QJsonValue();
    o[QStringLiteral("thermalBefore")] = int(s.thermalBefore);
    o[QStringLiteral("thermalAfter")] = int(s.thermalAfter);
    o[QStringLiteral("relayStartImpulse")] = int(s.relayStartImpulse);
    o[QStringLiteral("relayStartTimeMs")] = int(s.relayStartTimeMs);
    o[QStringLiteral("heavy")] = s.heavy;
    o[QStringLiteral("prolonged")] = s.prolonged;
    o[QStringLiteral("port")] = relay.Known() ? QJsonValue(relay.port) : QJsonValue();
    o[QStringLiteral("address")] = relay.Known() ? QJsonValue(relay.address) : QJsonValue();
    o[QStringLiteral("relayName")] = relay.name.isEmpty() ? QJsonValue() : QJsonValue(relay.name);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::optional<StoredStart> ParseStartSummary(const QByteArray& json)
{
    const QJsonObject o = QJsonDocument::fromJson(json).object();
    StoredStart stored;
    StartSummary& s = stored.summary;
    s.switchOnMs = MsOf(o[QStringLiteral("switchOn")]);
    if (s.switchOnMs < 0)
        return std::nullopt;
    s.finishedMs = MsOf(o[QStringLiteral("finished")]);
    const QString end = o[QStringLiteral("end")].toString();
    for (int e = 0; e < 4; ++e)
        if (end == QLatin1String(kEndNames[e]))
            s.end = StartEnd(e);
    const QJsonArray percent = o[QStringLiteral("peakPercent")].toArray();
    for (int p = 0; p < 3 && p < percent.size(); ++p)
        s.peakPercent[size_t(p)] = uint16_t(percent[p].toInt());
    stored.ratedCentiAmps = int(o[QStringLiteral("ratedCurrentA")].toDouble() * 100 + 0.5);
    s.thermalBefore = uint16_t(o[QStringLiteral("thermalBefore")].toInt());
    s.thermalAfter = uint16_t(o[QStringLiteral("thermalAfter")].toInt());
    s.relayStartImpulse = uint16_t(o[QStringLiteral("relayStartImpulse")].toInt());
    s.relayStartTimeMs = uint16_t(o[QStringLiteral("relayStartTimeMs")].toInt());
    s.heavy = o[QStringLiteral("heavy")].toBool();
    s.prolonged = o[QStringLiteral("prolonged")].toBool();
    stored.relay.port = o[QStringLiteral("port")].toString();
    stored.relay.address = o[QStringLiteral("address")].toInt();
    stored.relay.name = o[QStringLiteral("relayName")].toString();
    return stored;
}

QStringList StartSummaryLines(const StartSummary& s, int ratedCentiAmps)
{
    QStringList lines;
    lines << QStringLiteral("Пуск: %1")
                 .arg(QDateTime::fromMSecsSinceEpoch(s.switchOnMs).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
    switch (s.end) {
    case StartEnd::Finished:
        lines << QStringLiteral("Пуск закончен через %1 с")
                     .arg(QString::number(s.TimeToFinishMs() / 1000.0, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(',')));
        break;
    case StartEnd::Limit: lines << QStringLiteral("«Пуск закончен» не пришел за %1 мин").arg(StartDetector::kLimitMs / 60000); break;
    case StartEnd::MotorOff: lines << QStringLiteral("Двигатель отключен до окончания пуска"); break;
    case StartEnd::LinkLost: lines << QStringLiteral("Связь потеряна во время пуска"); break;
    }
    static const char* const kPhases[] = {"А", "В", "С"};
    for (int p = 0; p < 3; ++p) {
        QString line = QStringLiteral("Пиковый ток фазы %1: %2 %").arg(QString::fromUtf8(kPhases[p])).arg(s.peakPercent[size_t(p)]);
        if (ratedCentiAmps > 0)
            line += QStringLiteral(" (%1 А)").arg(Amperes(PeakAmperes(s.peakPercent[size_t(p)], ratedCentiAmps)));
        lines << line;
    }
    lines << QStringLiteral("Тепловой импульс до пуска: %1 %, после: %2 %").arg(s.thermalBefore).arg(s.thermalAfter);
    lines << QStringLiteral("Тепловой импульс пуска (реле): %1 %").arg(s.relayStartImpulse);
    if (s.heavy || s.prolonged) {
        QStringList marks;
        if (s.heavy)
            marks << QStringLiteral("тяжелый");
        if (s.prolonged)
            marks << QStringLiteral("затянувшийся");
        lines << QStringLiteral("Пуск: %1").arg(marks.join(QStringLiteral(", ")));
    }
    return lines;
}

bool WriteStartRecord(const QString& startsFolder, const StartRecord& record, int ratedCentiAmps,
                      const RelayId& relay, const QByteArray& picture, QString* folder, QString* reason)
{
    const QString base = QDateTime::fromMSecsSinceEpoch(record.summary.switchOnMs)
                             .toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz"));
    QString path = startsFolder + QLatin1Char('/') + base;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = startsFolder + QLatin1Char('/') + base + QStringLiteral("_%1").arg(n);
    if (!QDir().mkpath(path)) {
        if (reason)
            *reason = QStringLiteral("cannot create %1").arg(path);
        return false;
    }
    QString why;
    const bool written = WriteUserFile(path + QLatin1Char('/') + kSamplesFile, ReadingsCsv(record.samples), why)
        && (picture.isEmpty() || WriteUserFile(path + QLatin1Char('/') + kPictureFile, picture, why))
        && WriteUserFile(path + QLatin1Char('/') + kSummaryFile, StartSummaryJson(record.summary, ratedCentiAmps, relay), why);
    if (!written && reason)
        *reason = why;
    if (written && folder)
        *folder = path;
    return written;
}

std::vector<StoredStart> ListStarts(const QString& startsFolder)
{
    std::vector<StoredStart> starts;
    const QDir dir(startsFolder);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        QFile file(dir.filePath(name) + QLatin1Char('/') + kSummaryFile);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        if (std::optional<StoredStart> stored = ParseStartSummary(file.read(1 << 20))) {
            stored->folder = dir.filePath(name);
            starts.push_back(*stored);
        }
    }
    return starts;
}

std::vector<BlockSample> ReadStartSamples(const QString& folder)
{
    QFile file(folder + QLatin1Char('/') + kSamplesFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseReadingsCsv(file.read(64 << 20)).value_or(std::vector<BlockSample>{});
}
