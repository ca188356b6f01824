#include "app/settings/SettingsSheet.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>

namespace {

// Points: the sheet is drawn at 72 dots per inch.
constexpr int kResolution = 72;
constexpr qreal kMarginMm = 15;
constexpr qreal kTitlePt = 14;
constexpr qreal kSectionPt = 11.5;
constexpr qreal kTextPt = 9;
constexpr qreal kColumnGap = 10;
constexpr qreal kSectionGap = 10;
const char* const kFontFamily = "Liberation Sans";

class SheetPainter {
public:
    SheetPainter(QPdfWriter& writer) : writer_(writer), painter_(&writer)
    {
        area_ = writer.pageLayout().paintRectPixels(kResolution);
        area_.moveTopLeft({0, 0});
        y_ = 0;
    }

    void Title(const QString& text) { Line(text, kTitlePt, true); y_ += kSectionGap / 2; }
    void Section(const QString& text)
    {
        y_ += kSectionGap;
        Line(text, kSectionPt, true);
    }
    void Text(const QString& text) { Line(text, kTextPt, false); }
    void Heading(const QString& text)
    {
        y_ += kSectionGap / 2;
        Line(text, kTextPt, true);
    }

    // Starts a new page unless `lines` lines of text fit on this one.
    void KeepTogether(int lines)
    {
        const QFontMetricsF metrics(Font(kTextPt, false), &writer_);
        NeedRoom(lines * metrics.height() * 1.25 + kSectionGap);
    }

    // Rows of cells in columns as wide as their widest cell.
    void Table(const std::vector<QStringList>& rows, const QList<bool>& rightAligned = {})
    {
        const QFont font = Font(kTextPt, false);
        const QFontMetricsF metrics(font, &writer_);
        std::vector<qreal> widths;
        for (const QStringList& row : rows)
            for (qsizetype c = 0; c < row.size(); ++c) {
                if (size_t(c) >= widths.size())
                    widths.push_back(0);
                widths[size_t(c)] = std::max(widths[size_t(c)], metrics.horizontalAdvance(row[c]));
            }
        painter_.setFont(font);
        const qreal height = metrics.height() * 1.25;
        for (const QStringList& row : rows) {
            NeedRoom(height);
            qreal x = 0;
            for (qsizetype c = 0; c < row.size(); ++c) {
                const qreal w = widths[size_t(c)];
                const bool right = c < rightAligned.size() && rightAligned[c];
                painter_.drawText(QRectF(x, y_, w, height), (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                                  row[c]);
                x += w + kColumnGap;
            }
            y_ += height;
        }
    }

    void End() { painter_.end(); }

private:
    QFont Font(qreal points, bool bold) const
    {
        QFont font(QString::fromLatin1(kFontFamily));
        font.setPointSizeF(points);
        font.setBold(bold);
        return font;
    }

    void Line(const QString& text, qreal points, bool bold)
    {
        const QFont font = Font(points, bold);
        const QFontMetricsF metrics(font, &writer_);
        const QRectF bounds = metrics.boundingRect(QRectF(0, 0, area_.width(), 1e6), Qt::TextWordWrap, text);
        NeedRoom(bounds.height());
        painter_.setFont(font);
        painter_.drawText(QRectF(0, y_, area_.width(), bounds.height()), Qt::TextWordWrap, text);
        y_ += bounds.height() + metrics.height() * 0.25;
    }

    void NeedRoom(qreal height)
    {
        if (y_ + height <= area_.height())
            return;
        writer_.newPage();
        y_ = 0;
    }

    QPdfWriter& writer_;
    QPainter painter_;
    QRectF area_;
    qreal y_ = 0;
};

std::vector<QStringList> LineRows(const std::vector<SheetLine>& lines)
{
    std::vector<QStringList> rows{{QStringLiteral("Уставка"), QStringLiteral("Значение"), QStringLiteral("Ед. изм.")}};
    for (const SheetLine& l : lines)
        rows.push_back({l.caption, l.value, l.unit});
    return rows;
}

}  // namespace

QByteArray SettingsSheetPdf(const SheetContent& content)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(kResolution);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm), QPageLayout::Millimeter));
    writer.setTitle(QStringLiteral("Лист уставок"));
    writer.setCreator(content.program);

    SheetPainter sheet(writer);
    sheet.Title(QStringLiteral("Лист уставок защиты электродвигателя 0,4 кВ"));
    sheet.Table({{QStringLiteral("Объект:"), content.objectName.isEmpty() ? QStringLiteral("____________________________")
                                                                           : content.objectName},
                 {QStringLiteral("Программа:"), content.program},
                 {QStringLiteral("Адрес защиты:"), content.address},
                 {QStringLiteral("Порт:"), content.port},
                 {QStringLiteral("Дата и время:"), content.moment},
                 {QStringLiteral("Часы защиты:"), content.relayClock}});

    sheet.Section(QStringLiteral("Уставки"));
    sheet.Table(LineRows(content.setpoints), {false, true, false});
    sheet.Section(QStringLiteral("Настройки"));
    sheet.Table(LineRows(content.configuration), {false, true, false});

    // The section's title goes with the first mask's table.
    if (!content.masks.empty())
        sheet.KeepTogether(int(content.masks.front().bits.size()) + 4);
    sheet.Section(QStringLiteral("Маски"));
    for (const SheetMask& mask : content.masks) {
        // A mask's table is kept on one page: its heading, the header and a row per bit.
        sheet.KeepTogether(int(mask.bits.size()) + 2);
        sheet.Heading(QStringLiteral("%1 (регистр %2): %3").arg(mask.caption).arg(mask.reg).arg(mask.bitText));
        std::vector<QStringList> rows{{QStringLiteral("Бит"), QStringLiteral("Условие"), QStringLiteral("Состояние")}};
        for (const SheetMask::Bit& b : mask.bits)
            rows.push_back({QString::number(b.bit), b.caption.isEmpty() ? QStringLiteral("(без флажка)") : b.caption,
                            b.set ? QStringLiteral("вкл") : QStringLiteral("откл")});
        sheet.Table(rows, {true, false, false});
    }
    sheet.Section(QStringLiteral("Подпись: ______________________"));
    sheet.End();
    return bytes;
}
