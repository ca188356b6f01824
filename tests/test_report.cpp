// Report files of the event records: their bytes.
#include <gtest/gtest.h>

#include <ostream>

#include "report/RecordReport.h"

// Readable failures: texts as UTF-8, file bytes with the non-ASCII ones in hex.
void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"';
    for (char c : bytes) {
        const auto b = uint8_t(c);
        if (b >= 0x20 && b < 0x7F)
            *os << c;
        else
            *os << "\\x" << "0123456789ABCDEF"[b >> 4] << "0123456789ABCDEF"[b & 0xF];
    }
    *os << '"';
}

namespace {
template <size_t N>
QByteArray Bytes(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

// Record 1 as the tab shows it after a reply, in Windows-1251.
const QByteArray kFilledRecord1 = Bytes(
    "\xCF\xD0\xCE\xD2\xCE\xCA\xCE\xCB \xB9" "1\r\n"  // ПРОТОКОЛ №1
    "\r\n"
    "\xC4\xE0\xF2\xE0: 05.01.2026   \xC2\xF0\xE5\xEC\xFF: 14:27:05\r\n"  // Дата: 05.01.2026   Время: 14:27:05
    "\xD1\xF2\xE0\xF2\xF3\xF1\xED\xFB\xE9 \xF0\xE5\xE3\xE8\xF1\xF2\xF0              :  00000010 00001000\r\n"  // Статусный регистр
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB \xC0                     :  57%\r\n"  // Ток фазы А (Cyrillic)
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB B                     :  61%\r\n"  // Ток фазы B (Latin)
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB C                     :  59%\r\n"  // Ток фазы C (Latin)
    "\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xF1\xEE\xEF\xF0\xEE\xF2\xE8\xE2\xEB\xE5\xED\xE8\xFF \xE8\xE7\xEE\xEB\xFF\xF6\xE8\xE8:  1250kOm\r\n"  // Значение сопротивления изоляции
    "\xD3\xF0\xEE\xE2\xE5\xED\xFC \xED\xE5\xF1\xE8\xEC\xEC\xE5\xF2\xF0\xE8\xE8 \xF2\xEE\xEA\xEE\xE2 \xF4\xE0\xE7  :  3%\r\n"  // Уровень несимметрии токов фаз
    "\xCF\xF3\xEB\xFC\xF1\xE0\xF6\xE8\xFF \xF2\xEE\xEA\xEE\xE2 \xF4\xE0\xE7            :  2%\r\n"  // Пульсация токов фаз
    "\xD2\xE5\xEF\xEB\xEE\xE2\xEE\xE9 \xE8\xEC\xEF\xF3\xEB\xFC\xF1               :  45%\r\n"  // Тепловой импульс
    "\xD2\xE5\xEF\xEB\xEE\xE2\xEE\xE9 \xE8\xEC\xEF\xF3\xEB\xFC\xF1 \xEF\xF3\xF1\xEA\xE0         :  12%\r\n"  // Тепловой импульс пуска
    "\xCD\xE0\xEF\xF0\xFF\xE6\xE5\xED\xE8\xE5 \xEF\xE8\xF2\xE0\xED\xE8\xFF             :  380B\r\n"  // Напряжение питания (Latin B)
    "\xCF\xF3\xF1\xEA\xEE\xE2\xEE\xE9 \xF2\xEE\xEA                   :  412%\r\n");  // Пусковой ток

// A record tab that has never been filled: labels and units only.
const QByteArray kEmptyRecord1 = Bytes(
    "\xCF\xD0\xCE\xD2\xCE\xCA\xCE\xCB \xB9" "1\r\n"
    "\r\n"
    "\xC4\xE0\xF2\xE0:    \xC2\xF0\xE5\xEC\xFF: \r\n"  // "Дата: " + three blanks + "Время: "
    "\xD1\xF2\xE0\xF2\xF3\xF1\xED\xFB\xE9 \xF0\xE5\xE3\xE8\xF1\xF2\xF0              :  \r\n"
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB \xC0                     :  %\r\n"
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB B                     :  %\r\n"
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB C                     :  %\r\n"
    "\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xF1\xEE\xEF\xF0\xEE\xF2\xE8\xE2\xEB\xE5\xED\xE8\xFF \xE8\xE7\xEE\xEB\xFF\xF6\xE8\xE8:  kOm\r\n"
    "\xD3\xF0\xEE\xE2\xE5\xED\xFC \xED\xE5\xF1\xE8\xEC\xEC\xE5\xF2\xF0\xE8\xE8 \xF2\xEE\xEA\xEE\xE2 \xF4\xE0\xE7  :  %\r\n"
    "\xCF\xF3\xEB\xFC\xF1\xE0\xF6\xE8\xFF \xF2\xEE\xEA\xEE\xE2 \xF4\xE0\xE7            :  %\r\n"
    "\xD2\xE5\xEF\xEB\xEE\xE2\xEE\xE9 \xE8\xEC\xEF\xF3\xEB\xFC\xF1               :  %\r\n"
    "\xD2\xE5\xEF\xEB\xEE\xE2\xEE\xE9 \xE8\xEC\xEF\xF3\xEB\xFC\xF1 \xEF\xF3\xF1\xEA\xE0         :  %\r\n"
    "\xCD\xE0\xEF\xF0\xFF\xE6\xE5\xED\xE8\xE5 \xEF\xE8\xF2\xE0\xED\xE8\xFF             :  B\r\n"
    "\xCF\xF3\xF1\xEA\xEE\xE2\xEE\xE9 \xF2\xEE\xEA                   :  %\r\n");

constexpr int kLineCount = 14;
constexpr int kStatusLine = 3;  // zero-based
constexpr int kLabelLength = 34;

RecordReportTexts FilledTexts()
{
    RecordReportTexts t;
    t.date = QStringLiteral("05.01.2026");
    t.time = QStringLiteral("14:27:05");
    t.status = QStringLiteral("00000010 00001000");
    const char* values[kReportValueCount] = {"57", "61", "59", "1250", "3", "2", "45", "12", "380", "412"};
    for (int i = 0; i < kReportValueCount; ++i)
        t.values[i] = QString::fromLatin1(values[i]);
    return t;
}

QList<QByteArray> FileLines(const QByteArray& bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();  // after the last line's end
    for (QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r'));
        line.chop(1);
    }
    return lines;
}

}

TEST(ReportText, FilledRecordByteForByte)
{
    EXPECT_EQ(ReportFileBytes(1, FilledTexts()), kFilledRecord1);
}

TEST(ReportText, NeverFilledTabGivesLabelsAndUnits)
{
    EXPECT_EQ(ReportFileBytes(1, RecordReportTexts{}), kEmptyRecord1);
}

TEST(ReportText, RecordThreeHeaderAndFileName)
{
    EXPECT_EQ(ReportFileName(3), QStringLiteral("Protokol3.txt"));
    const QList<QByteArray> lines = FileLines(ReportFileBytes(3, FilledTexts()));
    ASSERT_EQ(lines.size(), kLineCount);
    EXPECT_EQ(lines[0], Bytes("\xCF\xD0\xCE\xD2\xCE\xCA\xCE\xCB \xB9" "3"));
    // Everything below the header is the same as for record 1.
    EXPECT_EQ(lines.mid(1), FileLines(kFilledRecord1).mid(1));
}

TEST(ReportText, StatusOfAllOnesMakesAFiftyOneCharacterLine)
{
    RecordReportTexts t = FilledTexts();
    t.status = QStringLiteral("11111111 11111111");
    const QList<QByteArray> lines = FileLines(ReportFileBytes(2, t));
    ASSERT_EQ(lines.size(), kLineCount);
    EXPECT_EQ(lines[kStatusLine].size(), 51);
    EXPECT_TRUE(lines[kStatusLine].endsWith("11111111 11111111"));
}

TEST(ReportText, LabelsHaveTheColonInColumn32AndValuesAreNotCut)
{
    RecordReportTexts t;
    t.status = QStringLiteral("x");
    const QString longValue = QStringLiteral("1234567890123456789012345678901234567890");
    for (QString& v : t.values)
        v = longValue;
    const QStringList lines = ReportLines(1, t);
    ASSERT_EQ(lines.size(), kLineCount);
    for (int i = kStatusLine; i < kLineCount; ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        EXPECT_EQ(lines[i].indexOf(QLatin1Char(':')), 31);
        EXPECT_EQ(lines[i].mid(32, 2), QStringLiteral("  "));
        if (i > kStatusLine) {
            EXPECT_EQ(lines[i].mid(kLabelLength, longValue.size()), longValue);
        }
    }
    EXPECT_EQ(lines[kStatusLine].size(), kLabelLength + 1);
}

TEST(ReportText, LatinLettersWhereTheyLookCyrillic)
{
    const QList<QByteArray> lines = FileLines(ReportFileBytes(1, RecordReportTexts{}));
    constexpr int kPhaseLetter = 9;  // "Ток фазы X"
    EXPECT_EQ(uint8_t(lines[4][kPhaseLetter]), 0xC0);  // Cyrillic А
    EXPECT_EQ(lines[5][kPhaseLetter], 'B');
    EXPECT_EQ(lines[6][kPhaseLetter], 'C');
    EXPECT_TRUE(lines[7].endsWith(":  kOm"));
    EXPECT_TRUE(lines[12].endsWith(":  B"));
}

