// Helpers for writing the page tables: one call per control, plus the caption
// and unit labels placed beside it by the window's conventions.
#pragma once

#include "app/LayoutTables.h"
#include "exchanges/RegisterTable.h"

namespace layout {

PageTable MakePage0();
PageTable MakePage1();
PageTable MakePage2();
PageTable MakePage3();
PageTable MakePage4();
PageTable MakePage5();
PageTable MakePage6();
PageTable MakePage7();
PageTable MakePage8();

// Height of a one-line caption or unit label for a font role.
inline int LabelHeight(FontRole font)
{
    switch (font) {
    case FontRole::Times15:
    case FontRole::Separator:
    case FontRole::HelpSmall:
        return 17;
    case FontRole::Notice:
    case FontRole::HelpLarge:
        return 22;
    default:
        return 15;
    }
}

// Top of a one-line label centred on a field's line.
inline int LineTop(const QRect& field, int labelHeight)
{
    return field.y() + (field.height() - labelHeight + 1) / 2;
}

inline ControlRow Row(ControlKind kind, const QString& name, const QString& parent, QRect geometry,
                      FontRole font = FontRole::Caption, const QString& text = {})
{
    ControlRow row;
    row.kind = kind;
    row.name = name;
    row.parent = parent;
    row.geometry = geometry;
    row.font = font;
    row.text = text;
    return row;
}

inline ControlRow Label(const QString& name, const QString& parent, QRect geometry,
                        const QString& text, FontRole font = FontRole::Caption,
                        Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    ControlRow row = Row(ControlKind::Label, name, parent, geometry, font, text);
    row.align = align;
    return row;
}

inline ControlRow Frame(const QString& name, const QString& parent, QRect geometry, bool raised = false)
{
    ControlRow row = Row(ControlKind::Frame, name, parent, geometry);
    row.raised = raised;
    return row;
}

// A row of underscores across the given width.
inline ControlRow Separator(const QString& name, const QString& parent, QRect geometry, int count)
{
    return Row(ControlKind::Separator, name, parent, geometry, FontRole::Separator,
               QString(count, QLatin1Char('_')));
}

inline ControlRow Notice(const QString& name, const QString& parent, int x, int y)
{
    ControlRow row = Label(name, parent, QRect(x, y, 239, 22), QStringLiteral("НЕТ СВЯЗИ С ЗАЩИТОЙ!"),
                           FontRole::Notice);
    row.visible = false;
    return row;
}

inline ControlRow HelpNote(const QString& name, const QString& parent, int x, int y, int width,
                           const QString& text, FontRole font)
{
    return Label(name, parent, QRect(x, y, width, LabelHeight(font)), text, font);
}

// The register entry of a control: the layout names it by key and adds only
// geometry; register, bit, range, items and captions come from the register table.
inline const RegisterEntry& EntryOf(const QString& key)
{
    const RegisterEntry* e = FindRegister(key);
    Q_ASSERT_X(e, "layout", qPrintable(key));
    return *e;
}

// A control bound to the register entry `key`.
inline ControlRow Bound(ControlKind kind, const QString& key, const QString& parent, QRect geometry,
                        FontRole font = FontRole::Caption)
{
    const RegisterEntry& e = EntryOf(key);
    ControlRow row = Row(kind, key, parent, geometry, font);
    row.reg = e.reg;
    row.bit = e.bit;
    switch (kind) {
    case ControlKind::ValueField:
        row.enabled = false;
        if (e.kind == RegisterKind::StatusWord || e.kind == RegisterKind::Mask)
            row.format = ValueFormat::BitText;
        else if (e.kind == RegisterKind::Moment)
            row.format = ValueFormat::Moment;
        break;
    case ControlKind::SpinEdit:
        row.minValue = e.minValue;
        row.maxValue = e.maxValue;
        row.increment = e.increment;
        row.maxLength = 5;
        row.value = e.minValue;
        break;
    case ControlKind::ComboBox:
        row.items = e.items;
        row.itemForLarger = e.itemForLarger;
        row.value = -1;   // no item chosen
        break;
    case ControlKind::Led:
    case ControlKind::CheckBox:
        row.text = e.caption;
        row.enabled = e.fixedBits == 0;   // a mask bit that is not the user's is shown, never changed
        break;
    default:
        break;
    }
    return row;
}

// A disabled edit box for display only, showing the entry `key`.
inline ControlRow Field(const QString& key, const QString& parent, QRect geometry, FontRole font = FontRole::Caption)
{
    return Bound(ControlKind::ValueField, key, parent, geometry, font);
}

inline ControlRow Spin(const QString& key, const QString& parent, QRect geometry)
{
    return Bound(ControlKind::SpinEdit, key, parent, geometry);
}

// A spin edit that stands for no register (the slave address the requests go to).
inline ControlRow PlainSpin(const QString& name, const QString& parent, QRect geometry, int minValue, int maxValue,
                            int maxLength)
{
    ControlRow row = Row(ControlKind::SpinEdit, name, parent, geometry);
    row.minValue = minValue;
    row.maxValue = maxValue;
    row.maxLength = maxLength;
    row.value = minValue;
    return row;
}

inline ControlRow Led(const QString& key, const QString& parent, QRect geometry, FontRole font)
{
    return Bound(ControlKind::Led, key, parent, geometry, font);
}

// A one-line caption, right-aligned so that it ends at x = right.
inline void CaptionEndingAt(ControlRow& row, int right, int width, const QString& text,
                            FontRole font = FontRole::Caption)
{
    const int h = LabelHeight(font);
    row.caption = {row.name + QStringLiteral("Caption"), text,
                   QRect(right - width, LineTop(row.geometry, h), width, h),
                   Qt::AlignRight | Qt::AlignVCenter, font};
}

// A caption, left-aligned from x = left to 4 pixels before the field. A second
// line, if given, starts 14 pixels below the first, at left2 (or left).
inline void CaptionFrom(ControlRow& row, int left, const QString& text, const QString& line2 = {},
                        int left2 = -1)
{
    const int h = LabelHeight(FontRole::Caption);
    const int right = row.geometry.x() - 4;
    const Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    if (line2.isEmpty()) {
        row.caption = {row.name + QStringLiteral("Caption"), text,
                       QRect(left, LineTop(row.geometry, h), right - left, h), align, FontRole::Caption};
        return;
    }
    if (left2 < 0)
        left2 = left;
    const int top = row.geometry.y() - 1;
    row.caption = {row.name + QStringLiteral("Caption"), text, QRect(left, top, right - left, h), align,
                   FontRole::Caption};
    row.caption2 = {row.name + QStringLiteral("Caption2"), line2, QRect(left2, top + 14, right - left2, h),
                    align, FontRole::Caption};
}

// A caption at a place of its own (above the field rather than before it).
inline void CaptionAt(ControlRow& row, QRect geometry, const QString& text)
{
    row.caption = {row.name + QStringLiteral("Caption"), text, geometry, Qt::AlignLeft | Qt::AlignVCenter,
                   FontRole::Caption};
}

// The unit, on the field's line, gap pixels after the field.
inline void UnitAfter(ControlRow& row, const QString& text, int width = 28, int gap = 3)
{
    const int h = LabelHeight(FontRole::Caption);
    row.unit = {row.name + QStringLiteral("Unit"), text,
                QRect(row.geometry.x() + row.geometry.width() + gap, LineTop(row.geometry, h), width, h),
                Qt::AlignLeft | Qt::AlignVCenter, FontRole::Caption};
}

}  // namespace layout
