#include "report/RecordReport.h"

#include <QStringEncoder>

namespace {
// Qt encodes it through ICU; there is no built-in table for it.
constexpr const char* kCodePage = "windows-1251";

// Labels are padded to this width, then ":" and two blanks follow, so the
// colon stands in column 32 and every value starts in column 35.
constexpr int kLabelWidth = 31;
const QString kLabelTail = QStringLiteral(":  ");

const QString kHeader = QStringLiteral(u"ПРОТОКОЛ №");
const QString kDate = QStringLiteral(u"Дата: ");
const QString kTime = QStringLiteral(u"   Время: ");
const QString kStatusLabel = QStringLiteral(u"Статусный регистр");

struct ValueLine {
    const char16_t* label;
    const char* unit;
};

// The report has its own Latin spellings where the tabs use Cyrillic: the
// "B" and "C" of the phase names, "kOm", and the volt sign "B". Only the "А"
// of phase A is Cyrillic. They look alike; the bytes differ.
constexpr ValueLine kValueLines[kReportValueCount] = {
    {u"Ток фазы А", "%"},  // Cyrillic А
    {u"Ток фазы B", "%"},  // Latin B
    {u"Ток фазы C", "%"},  // Latin C
    {u"Значение сопротивления изоляции", "kOm"},
    {u"Уровень несимметрии токов фаз", "%"},
    {u"Пульсация токов фаз", "%"},
    {u"Тепловой импульс", "%"},
    {u"Тепловой импульс пуска", "%"},
    {u"Напряжение питания", "B"},  // Latin B
    {u"Пусковой ток", "%"},
};

QString Label(const QString& text)
{
    return text.leftJustified(kLabelWidth) + kLabelTail;
}
}

QString ReportFileName(int record)
{
    return QStringLiteral("Protokol%1.txt").arg(record);
}

QStringList ReportLines(int record, const RecordReportTexts& texts)
{
    QStringList lines;
    lines << kHeader + QString::number(record);
    lines << QString();
    lines << kDate + texts.date + kTime + texts.time;
    lines << Label(kStatusLabel) + texts.status;
    for (int i = 0; i < kReportValueCount; ++i) {
        const ValueLine& line = kValueLines[i];
        lines << Label(QString::fromUtf16(line.label)) + texts.values[i]
                + QLatin1String(line.unit);
    }
    return lines;
}

QByteArray ReportFileBytes(int record, const RecordReportTexts& texts)
{
    QStringEncoder encoder(kCodePage, QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return {};
    QString text;
    for (const QString& line : ReportLines(record, texts))
        text += line + QLatin1String("\r\n");
    return encoder.encode(text);
}
