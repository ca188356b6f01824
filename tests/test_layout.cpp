// The main window's layout: the tables walked against a live built window,
// and the facts of the design that the tables must carry.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTimeEdit>

#include <algorithm>
#include <cstdio>
#include <set>

#include "app/ComLed.h"
#include "app/Fonts.h"
#include "app/LayoutTables.h"
#include "exchanges/RegisterTable.h"
#include "app/LedIndicator.h"
#include "exchanges/LocaleFormats.h"
#include "app/PageControl.h"
#include "app/SpinEdit.h"
#include "app/WindowLayout.h"

namespace {

QString Describe(const QRect& r)
{
    return QStringLiteral("(%1, %2, %3 x %4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The class a control of each kind must have.
bool HasKindClass(QWidget* w, ControlKind kind)
{
    switch (kind) {
    case ControlKind::Frame:
    case ControlKind::Line:
        return qobject_cast<QFrame*>(w) && !qobject_cast<QLabel*>(w);
    case ControlKind::GroupBox:   return qobject_cast<QGroupBox*>(w) != nullptr;
    case ControlKind::Label:
    case ControlKind::Separator:
    case ControlKind::StaticText: return qobject_cast<QLabel*>(w) != nullptr;
    case ControlKind::ValueField:
        return qobject_cast<QLineEdit*>(w) && !qobject_cast<TSpinEdit*>(w);
    case ControlKind::SpinEdit:   return qobject_cast<TSpinEdit*>(w) != nullptr;
    case ControlKind::ComboBox:   return qobject_cast<QComboBox*>(w) != nullptr;
    case ControlKind::CheckBox:   return qobject_cast<QCheckBox*>(w) != nullptr;
    case ControlKind::Button:     return qobject_cast<QPushButton*>(w) != nullptr;
    case ControlKind::Led:        return qobject_cast<TLedIndicator*>(w) != nullptr;
    case ControlKind::ComLed:     return qobject_cast<TComLed*>(w) != nullptr;
    case ControlKind::DatePicker:
        return qobject_cast<QDateEdit*>(w) && !qobject_cast<QTimeEdit*>(w);
    case ControlKind::TimePicker: return qobject_cast<QTimeEdit*>(w) != nullptr;
    }
    return false;
}

// The text a control of each kind shows as its own.
QString OwnText(QWidget* w, ControlKind kind)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* box = qobject_cast<QGroupBox*>(w))
        return box->title();
    if (auto* check = qobject_cast<QCheckBox*>(w))
        return check->text();
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->text();
    if (auto* led = qobject_cast<TLedIndicator*>(w))
        return led->Caption();
    if (kind == ControlKind::ValueField)
        return qobject_cast<QLineEdit*>(w)->text();
    return QString();
}

bool SameFont(const QFont& a, const QFont& b)
{
    return a.family() == b.family() && a.pixelSize() == b.pixelSize() && a.bold() == b.bold()
        && a.italic() == b.italic() && a.underline() == b.underline();
}

// The width a text takes, as drawn (ink), in a font.
int InkWidth(const QFont& font, const QString& text)
{
    return QFontMetrics(font).boundingRect(text).right() + 1;
}

class Layout : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        form_ = new QWidget;
        BuildWindowLayout(form_, controls_);
    }
    static void TearDownTestSuite()
    {
        delete form_;
        form_ = nullptr;
    }

    static QWidget* form_;
    static WindowControls controls_;
};

QWidget* Layout::form_ = nullptr;
WindowControls Layout::controls_;

// Every row of every table: the control exists under its name, of its kind,
// under its parent, at its place, with its text, font, limits and state; its
// caption and unit labels likewise.
TEST_F(Layout, EveryTableRowIsBuiltAsDescribed)
{
    int checked = 0;
    int labels = 0;
    for (const PageTable& page : LayoutTables()) {
        for (const ControlRow& row : page.rows) {
            SCOPED_TRACE(row.name.toStdString());
            QWidget* w = controls_.byName.value(row.name);
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(form_->findChild<QWidget*>(row.name), w);
            EXPECT_TRUE(HasKindClass(w, row.kind));
            ASSERT_NE(w->parentWidget(), nullptr);
            EXPECT_EQ(w->parentWidget()->objectName(), row.parent);
            EXPECT_EQ(w->geometry(), row.geometry) << Describe(w->geometry()).toStdString();
            EXPECT_EQ(w->isEnabled(), row.enabled);
            EXPECT_EQ(w->isHidden(), !row.visible);
            EXPECT_TRUE(SameFont(w->font(), RoleFont(row.font)));

            if (row.kind != ControlKind::SpinEdit && row.kind != ControlKind::ComboBox
                && row.kind != ControlKind::ComLed && row.kind != ControlKind::Frame
                && row.kind != ControlKind::Line && row.kind != ControlKind::DatePicker
                && row.kind != ControlKind::TimePicker) {
                EXPECT_EQ(OwnText(w, row.kind), row.text);
            }

            if (auto* spin = qobject_cast<TSpinEdit*>(w)) {
                EXPECT_EQ(spin->MinValue(), row.minValue);
                EXPECT_EQ(spin->MaxValue(), row.maxValue);
                EXPECT_EQ(spin->Increment(), row.increment);
                EXPECT_EQ(spin->MaxLength(), row.maxLength);
                EXPECT_EQ(spin->Value(), row.value);
                EXPECT_EQ(spin->text(), QString::number(row.value));
            }
            if (auto* combo = qobject_cast<QComboBox*>(w)) {
                QStringList items;
                for (int i = 0; i < combo->count(); ++i)
                    items << combo->itemText(i);
                EXPECT_EQ(items, row.items);
                EXPECT_EQ(combo->currentIndex(), -1);
                EXPECT_FALSE(combo->isEditable());
            }
            if (auto* led = qobject_cast<TLedIndicator*>(w)) {
                EXPECT_FALSE(led->Checked());
            }
            if (auto* check = qobject_cast<QCheckBox*>(w)) {
                EXPECT_FALSE(check->isChecked());
            }

            for (const AttachedLabel* a : {&row.caption, &row.caption2, &row.unit}) {
                if (!a->present())
                    continue;
                SCOPED_TRACE(a->name.toStdString());
                auto* label = qobject_cast<QLabel*>(controls_.byName.value(a->name));
                ASSERT_NE(label, nullptr);
                EXPECT_EQ(label->parentWidget(), w->parentWidget());
                EXPECT_EQ(label->text(), a->text);
                EXPECT_EQ(label->geometry(), a->geometry);
                EXPECT_EQ(label->alignment(), a->align);
                EXPECT_TRUE(SameFont(label->font(), RoleFont(a->font)));
                EXPECT_FALSE(label->isHidden());
                ++labels;
            }
            ++checked;
        }
    }
    std::printf("[ layout   ] checked %d controls and %d caption/unit labels\n", checked, labels);
    EXPECT_GE(checked, 300);
}

// Captions, units and unit placement follow the window's conventions:
// units 2 to 6 pixels after the field on its line, second caption lines 13
// to 15 pixels below the first, right-aligned captions before their field.
TEST_F(Layout, CaptionsAndUnitsStandBesideTheirFields)
{
    for (const PageTable& page : LayoutTables()) {
        for (const ControlRow& row : page.rows) {
            SCOPED_TRACE(row.name.toStdString());
            const QRect& f = row.geometry;
            if (row.unit.present()) {
                const int gap = row.unit.geometry.x() - (f.x() + f.width());
                EXPECT_GE(gap, 2);
                EXPECT_LE(gap, 6);
                EXPECT_GE(row.unit.geometry.y(), f.y());
                EXPECT_LT(row.unit.geometry.y(), f.y() + f.height() / 2);
            }
            if (row.caption2.present()) {
                const int step = row.caption2.geometry.y() - row.caption.geometry.y();
                EXPECT_GE(step, 13);
                EXPECT_LE(step, 15);
            }
            if (row.caption.present() && row.caption.align & Qt::AlignRight
                && row.caption.geometry.y() > f.y() - 3) {
                const int gap = f.x() - (row.caption.geometry.x() + row.caption.geometry.width());
                EXPECT_GE(gap, 3);
                EXPECT_LE(gap, 17);   // page 0: captions end at 450, fields start at 467
            }
        }
    }
    // Page 0 captions end at x 450; record page captions at 241.
    for (const char* name : {"E0", "E1", "E2", "E7", "E12"}) {
        const ControlRow* row = FindRow(QString::fromLatin1(name));
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->caption.geometry.x() + row->caption.geometry.width(), 450) << name;
    }
    for (int n = 1; n <= 4; ++n)
        for (int k = 1; k <= 12; ++k) {
            const ControlRow* row = FindRow(QStringLiteral("P%1E%2").arg(n).arg(k));
            ASSERT_NE(row, nullptr);
            EXPECT_EQ(row->caption.geometry.x() + row->caption.geometry.width(), 241);
        }
}

TEST_F(Layout, PagesPanelsAndTabs)
{
    TPageControl* pc = controls_.PageControl1;
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ(pc->objectName(), QStringLiteral("PageControl1"));
    EXPECT_EQ(pc->parentWidget(), form_);
    EXPECT_EQ(pc->geometry(), QRect(0, 0, 605, 442));
    EXPECT_EQ(form_->size(), QSize(605, 442));
    EXPECT_EQ(form_->windowTitle(), QStringLiteral("Защита электродвигателя на 0,4кВ"));
    EXPECT_TRUE(SameFont(form_->font(), RoleFont(FontRole::Window)));
    EXPECT_TRUE(form_->font().bold());
    EXPECT_EQ(form_->font().pixelSize(), 12);
    EXPECT_TRUE(SameFont(pc->tabBar()->font(), RoleFont(FontRole::Tabs)));
    EXPECT_FALSE(pc->tabBar()->font().bold());

    const QStringList captions = {
        QStringLiteral("Текущие параметры"), QStringLiteral("Уставки"),   QStringLiteral("Настройки"),
        QStringLiteral("Протокол1"),         QStringLiteral("Протокол2"), QStringLiteral("Протокол3"),
        QStringLiteral("Протокол4"),         QStringLiteral("Маски"),     QStringLiteral("    ?"),
    };
    ASSERT_EQ(pc->count(), 9);
    ASSERT_EQ(LayoutTables().size(), 9u);
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pc->tabText(i), captions[i]);
        QWidget* sheet = pc->widget(i);
        EXPECT_EQ(sheet->objectName(), QStringLiteral("TabSheet%1").arg(i + 1));
        EXPECT_EQ(controls_.byName.value(sheet->objectName()), sheet);
        if (i == 8) {
            EXPECT_EQ(controls_.byName.value(QStringLiteral("Panel19")), nullptr);
            continue;
        }
        auto* outer = qobject_cast<QFrame*>(controls_.byName.value(QStringLiteral("Panel1%1").arg(i + 1)));
        auto* content = qobject_cast<QFrame*>(controls_.byName.value(QStringLiteral("Panel%1").arg(i + 1)));
        ASSERT_NE(outer, nullptr);
        ASSERT_NE(content, nullptr);
        EXPECT_EQ(outer->parentWidget(), sheet);
        EXPECT_EQ(content->parentWidget(), outer);
        EXPECT_EQ(outer->geometry(), QRect(0, 0, 597, 412));
        EXPECT_EQ(content->geometry(), QRect(1, 1, 595, 410));
        EXPECT_EQ(outer->frameShadow(), QFrame::Raised);
        EXPECT_EQ(content->frameShadow(), QFrame::Raised);
        const PageTable& page = LayoutTables()[i];
        EXPECT_EQ(page.contentPanel, content->objectName());
        // The no-link notice lies on the content panel and is hidden.
        auto* notice = qobject_cast<QLabel*>(controls_.byName.value(QStringLiteral("LabelS%1").arg(i + 1)));
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(notice->parentWidget(), content);
        EXPECT_EQ(notice->text(), QStringLiteral("НЕТ СВЯЗИ С ЗАЩИТОЙ!"));
        EXPECT_EQ(notice->size(), QSize(239, 22));
        EXPECT_TRUE(notice->isHidden());
        EXPECT_EQ(notice->palette().color(QPalette::WindowText), QColor(128, 0, 0));
    }
    // Stored with page 2 selected.
    EXPECT_EQ(pc->currentIndex(), 2);
}

// The layout covers the register map: every entry has its control, on the
// register and bit the map gives, and no control stands for a register the
// map does not know. (The numbers themselves are checked against the
// relay by the register binding test.)
TEST_F(Layout, LayoutCoversTheRegisterMap)
{
    for (const RegisterEntry& e : RegisterTable()) {
        const ControlRow* row = FindRow(e.key);
        ASSERT_NE(row, nullptr) << e.key.toStdString();
        EXPECT_EQ(row->reg, e.reg) << e.key.toStdString();
        EXPECT_EQ(row->bit, e.bit) << e.key.toStdString();
    }
    for (const PageTable& page : LayoutTables())
        for (const ControlRow& row : page.rows)
            if (row.reg >= 0 && row.kind != ControlKind::Button) {
                EXPECT_NE(FindRegister(row.name), nullptr) << row.name.toStdString();
            }
    EXPECT_EQ(FindRow(QStringLiteral("SEAddres"))->reg, -1);
    EXPECT_EQ(FindRow(QStringLiteral("ButtonCOM"))->reg, -1);
    EXPECT_EQ(FindRow(QStringLiteral("ButtonM2"))->reg, RegisterOf(QStringLiteral("EditMask2")));

    // Every setting control of pages 1 and 2 has a register of its own.
    std::set<int> settingRegisters;
    int settings = 0;
    for (int page = 1; page <= 2; ++page)
        for (const ControlRow& row : LayoutTables()[page].rows)
            if (row.kind == ControlKind::SpinEdit || row.kind == ControlKind::ComboBox) {
                ++settings;
                EXPECT_TRUE(settingRegisters.insert(row.reg).second) << row.name.toStdString();
                EXPECT_GE(row.reg, 80);
                EXPECT_LE(row.reg, 123);
            }
    EXPECT_EQ(settings, 22 + 14 + 4);

    // Lamps and mask boxes: the bit of their register.
    EXPECT_EQ(FindRow(QStringLiteral("L14"))->bit, 14);
    EXPECT_EQ(FindRow(QStringLiteral("L14"))->reg, 66);
    EXPECT_EQ(FindRow(QStringLiteral("P3L13"))->reg, 162 + 5);
    EXPECT_EQ(FindRow(QStringLiteral("P3L13"))->bit, 12);
    EXPECT_EQ(FindRow(QStringLiteral("P1L16"))->text, QStringLiteral("Время пуска"));
    EXPECT_EQ(FindRow(QStringLiteral("M3CB1"))->reg, 97);
    EXPECT_EQ(FindRow(QStringLiteral("M2CB15"))->reg, 107);
    EXPECT_EQ(FindRow(QStringLiteral("M2CB15"))->bit, 14);

    // Limits.
    const ControlRow* address = FindRow(QStringLiteral("SEAddres"));
    EXPECT_EQ(address->minValue, 1);
    EXPECT_EQ(address->maxValue, 247);
    EXPECT_EQ(address->maxLength, 3);
    EXPECT_EQ(address->value, 1);
    const ControlRow* nse1 = FindRow(QStringLiteral("NSE1"));
    EXPECT_EQ(nse1->minValue, 1);
    EXPECT_EQ(nse1->maxValue, 246);
    EXPECT_EQ(nse1->value, 1);
    EXPECT_EQ(FindRow(QStringLiteral("NSE11"))->increment, 10);
    EXPECT_EQ(FindRow(QStringLiteral("NSE4"))->increment, 10);
    EXPECT_EQ(FindRow(QStringLiteral("SE22"))->maxValue, 65535);
    EXPECT_EQ(FindRow(QStringLiteral("SE22"))->maxLength, 5);

    // Letter forms: Latin B for the volts on pages 0 and 2, Cyrillic Ve on the records.
    EXPECT_EQ(FindLabel(QStringLiteral("E12Unit"))->text, QStringLiteral("B"));
    EXPECT_EQ(FindLabel(QStringLiteral("EditUUnit"))->text, QStringLiteral("B"));
    EXPECT_EQ(FindLabel(QStringLiteral("P2E10Unit"))->text, QString(QChar(0x0412)));
    EXPECT_EQ(FindLabel(QStringLiteral("SE0Unit"))->text, QStringLiteral("*0,01 A"));
    EXPECT_EQ(FindLabel(QStringLiteral("SE0Unit"))->text.back(), QLatin1Char('A'));
    EXPECT_EQ(FindLabel(QStringLiteral("P1E5Caption"))->text, QStringLiteral("Значение сопротивления изоляции:"));
    for (int n = 2; n <= 4; ++n)
        EXPECT_EQ(FindLabel(QStringLiteral("P%1E5Caption").arg(n))->text,
                  QStringLiteral("Значение сопротивления изоляция:"));
    EXPECT_EQ(FindRow(QStringLiteral("L6"))->text, QStringLiteral("Rизоляции<Rноминал"));
    EXPECT_EQ(FindRow(QStringLiteral("M1CB7"))->text, QStringLiteral("Rизоляции < Rноминал"));

    // Lamp widths of the record pages.
    EXPECT_EQ(FindRow(QStringLiteral("P4L7"))->geometry.width(), 183);
    for (const char* name : {"P1L10", "P2L11", "P3L14"})
        EXPECT_EQ(FindRow(QString::fromLatin1(name))->geometry.width(), 180) << name;
    EXPECT_EQ(FindRow(QStringLiteral("P1L16"))->geometry, QRect(12, 250, 150, 20));
    EXPECT_EQ(FindRow(QStringLiteral("L8"))->geometry, QRect(12, 143, 150, 20));

    // Mask boxes 10 to 13 of masks 1 and 3 are disabled, all of mask 2 enabled.
    for (int m = 1; m <= 3; ++m)
        for (int k = 1; k <= 15; ++k) {
            const bool locked = m != 2 && k >= 10 && k <= 13;
            EXPECT_EQ(FindRow(QStringLiteral("M%1CB%2").arg(m).arg(k))->enabled, !locked) << m << " " << k;
        }
    EXPECT_EQ(FindRow(QStringLiteral("M3CB1"))->geometry.width(), 150);
    EXPECT_EQ(FindRow(QStringLiteral("M3CB5"))->geometry.width(), 160);
    EXPECT_EQ(FindRow(QStringLiteral("M3CB15"))->geometry.width(), 150);

    // The combo boxes' items: CB2 and CB3 list the same words in opposite orders.
    EXPECT_EQ(FindRow(QStringLiteral("CB2"))->items,
              QStringList({QStringLiteral("включено"), QStringLiteral("отключено")}));
    EXPECT_EQ(FindRow(QStringLiteral("CB3"))->items,
              QStringList({QStringLiteral("отключено"), QStringLiteral("включено")}));
    const QStringList cb4 = FindRow(QStringLiteral("CB4"))->items;
    ASSERT_EQ(cb4.size(), 11);
    EXPECT_EQ(cb4[1], QStringLiteral("1 - Iном = (512..256)А, Ктт=8000, R=4.5 Ом "));
    EXPECT_EQ(cb4[7], QStringLiteral("7 - Iном = (8..4)А,         Ктт=1500, R= Ом"));
    EXPECT_EQ(cb4[8], QStringLiteral("8 -  Iном = (4..2)А,        Ктт=1500, R= Ом "));
    EXPECT_EQ(cb4[10], QStringLiteral("10 - Устр-во не поддерж-т данную функцию"));
}

TEST_F(Layout, LookupsByNameAndRegister)
{
    EXPECT_EQ(FindRow(QStringLiteral("nothing")), nullptr);
    EXPECT_EQ(FindRow(QStringLiteral("E2Caption")), nullptr);
    ASSERT_NE(FindLabel(QStringLiteral("E2Caption")), nullptr);
    EXPECT_EQ(FindLabel(QStringLiteral("E2Caption"))->text, QStringLiteral("Ток фазы А:"));
    EXPECT_EQ(FindLabel(QStringLiteral("SE1Caption2"))->text, QStringLiteral("состояния двигателя:"));
    ASSERT_NE(PageOf(QStringLiteral("P3L13")), nullptr);
    EXPECT_EQ(PageOf(QStringLiteral("P3L13"))->index, 5);
    EXPECT_EQ(PageOf(QStringLiteral("NSE21Unit"))->index, 2);
    EXPECT_EQ(PageOf(QStringLiteral("StaticText1"))->index, 8);

    QStringList at50;
    for (const ControlRow* row : RowsForRegister(50))
        at50 << row->name;
    EXPECT_EQ(at50, QStringList({QStringLiteral("E2"), QStringLiteral("EditA")}));
    EXPECT_TRUE(RowsForRegister(-1).empty());

    // Names are unique across the window, attached labels included.
    std::set<QString> names;
    for (const PageTable& page : LayoutTables())
        for (const ControlRow& row : page.rows)
            for (const QString& name : {row.name, row.caption.name, row.caption2.name, row.unit.name})
                if (!name.isEmpty()) {
                    EXPECT_TRUE(names.insert(name).second) << name.toStdString();
                }
}

// Every text fits the control that shows it, in the fonts as installed.
TEST_F(Layout, TextsFitTheirControls)
{
    for (QLabel* label : form_->findChildren<QLabel*>()) {
        if (label->text().isEmpty() || label->wordWrap())
            continue;
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_LE(InkWidth(label->font(), label->text()), label->contentsRect().width());
        EXPECT_LE(QFontMetrics(label->font()).height(), label->height() + 1);
    }
    for (QCheckBox* check : form_->findChildren<QCheckBox*>()) {
        SCOPED_TRACE(check->objectName().toStdString());
        EXPECT_LE(check->sizeHint().width(), check->width() + 2);
    }
    for (QPushButton* button : form_->findChildren<QPushButton*>()) {
        SCOPED_TRACE(button->objectName().toStdString());
        int needed = InkWidth(button->font(), button->text());
        if (!button->icon().isNull())
            needed += button->iconSize().width() + 4;
        EXPECT_LE(needed, button->width() - 4);
    }
    for (QComboBox* combo : form_->findChildren<QComboBox*>()) {
        SCOPED_TRACE(combo->objectName().toStdString());
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_LE(InkWidth(combo->font(), combo->itemText(i)), combo->width() - 22);
    }
    // The bit-text fields hold seventeen characters, the others five digits.
    const QString bits = QStringLiteral("00000000 00000000");
    for (QLineEdit* edit : form_->findChildren<QLineEdit*>()) {
        if (qobject_cast<TSpinEdit*>(edit) || !controls_.byName.contains(edit->objectName()))
            continue;
        SCOPED_TRACE(edit->objectName().toStdString());
        const QString name = edit->objectName();
        const bool bitText = name == QLatin1String("E1") || name.startsWith(QLatin1String("EditMask"))
            || (name.startsWith(QLatin1Char('P')) && name.endsWith(QLatin1String("E1")));
        const QString widest = bitText ? bits : QStringLiteral("65535");
        // The text area: the frame (1 pixel) and the line edit's 2-pixel margin,
        // less the field's own text margins.
        const QMargins m = edit->textMargins();
        const int room = edit->width() - 2 - 4 - m.left() - m.right();
        EXPECT_LE(InkWidth(edit->font(), widest), room);
    }
    for (TSpinEdit* spin : form_->findChildren<TSpinEdit*>()) {
        SCOPED_TRACE(spin->objectName().toStdString());
        const QString widest = QString(spin->MaxLength() == 3 ? 3 : 5, QLatin1Char('8'));
        EXPECT_LE(InkWidth(spin->font(), widest), spin->width() - 2 - 4 - spin->textMargins().right());
    }
    // The about text wraps within its box.
    auto* about = qobject_cast<QLabel*>(controls_.byName.value(QStringLiteral("StaticText1")));
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->wordWrap());
    EXPECT_LE(about->heightForWidth(about->width()), about->height());
    for (const QString& line : about->text().split(QLatin1Char('\n')))
        if (!line.contains(QLatin1Char(' '))) {
            EXPECT_LE(InkWidth(about->font(), line), about->contentsRect().width()) << line.toStdString();
        }
}

// No two controls of one parent overlap, captions and units included; frames,
// separators, lines, hidden controls, and the lamps and mask boxes (20 and
// 17 high at a 15-pixel pitch, by design) aside. The lines of a two-line
// caption may touch each other.
TEST_F(Layout, ControlsOfAPanelDoNotOverlap)
{
    struct Placed {
        QString name;
        QRect rect;
        QString owner;   // the control a caption or unit label belongs to
    };
    QHash<QString, std::vector<Placed>> byParent;
    for (const PageTable& page : LayoutTables())
        for (const ControlRow& row : page.rows) {
            if (row.kind == ControlKind::Frame || row.kind == ControlKind::GroupBox
                || row.kind == ControlKind::Separator || row.kind == ControlKind::Line
                || row.kind == ControlKind::ComLed || row.kind == ControlKind::Led
                || row.kind == ControlKind::CheckBox || !row.visible)
                continue;
            auto& list = byParent[row.parent];
            list.push_back({row.name, row.geometry, QString()});
            for (const AttachedLabel* a : {&row.caption, &row.caption2, &row.unit})
                if (a->present())
                    list.push_back({a->name, a->geometry, row.name});
        }
    // Group boxes are siblings of the fields of their panel too.
    for (const PageTable& page : LayoutTables())
        for (const ControlRow& row : page.rows)
            if (row.kind == ControlKind::GroupBox)
                byParent[row.parent].push_back({row.name, row.geometry, QString()});

    int pairs = 0;
    for (auto it = byParent.cbegin(); it != byParent.cend(); ++it) {
        const auto& list = it.value();
        for (size_t i = 0; i < list.size(); ++i)
            for (size_t j = i + 1; j < list.size(); ++j) {
                if (!list[i].owner.isEmpty() && list[i].owner == list[j].owner)
                    continue;
                ++pairs;
                // The design stacks some fields with their frames overlapping by
                // a pixel or two; anything more is a misplaced control.
                const QRect common = list[i].rect & list[j].rect;
                EXPECT_TRUE(common.isEmpty() || std::min(common.width(), common.height()) <= 2)
                    << list[i].name.toStdString() << " " << Describe(list[i].rect).toStdString() << " and "
                    << list[j].name.toStdString() << " " << Describe(list[j].rect).toStdString();
            }
    }
    EXPECT_GT(pairs, 1000);
}

TEST_F(Layout, PortMenuAndPortLabel)
{
    QMenu* menu = controls_.PopupMenu;
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->objectName(), QStringLiteral("PopupMenu"));
    EXPECT_EQ(controls_.byName.value(QStringLiteral("PopupMenu")), menu);
    ASSERT_EQ(menu->actions().size(), 4);
    for (int i = 0; i < 4; ++i) {
        QAction* action = controls_.N[i];
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->objectName(), QStringLiteral("N%1").arg(i + 1));
        EXPECT_EQ(menu->findChild<QAction*>(QStringLiteral("N%1").arg(i + 1)), action);
        EXPECT_EQ(menu->actions()[i], action);
        // Cyrillic С, О, М.
        EXPECT_EQ(action->text(), QString::fromUtf8("\xD0\xA1\xD0\x9E\xD0\x9C ") + QString::number(i + 1));
        EXPECT_TRUE(action->isCheckable());
    }
    auto* num = controls_.Get<QLabel>(QStringLiteral("LabelNum"));
    ASSERT_NE(num, nullptr);
    EXPECT_EQ(num->text(), QString::fromUtf8("\xD0\xA1\xD0\x9E\xD0\x9C-порт"));
    EXPECT_EQ(num->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(num->toolTip(), QStringLiteral("Выбор номера СОМ-порта (правая кнопка мыши)"));
    EXPECT_EQ(num->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
}

TEST_F(Layout, ClockPickersAndOkButtons)
{
    auto* date = controls_.Get<QDateEdit>(QStringLiteral("DPicker"));
    auto* time = controls_.Get<QTimeEdit>(QStringLiteral("TPicker"));
    ASSERT_NE(date, nullptr);
    ASSERT_NE(time, nullptr);
    EXPECT_TRUE(date->calendarPopup());
    EXPECT_EQ(date->displayFormat(), ShortDateFormat());
    EXPECT_EQ(time->displayFormat(), LongTimeFormat());
    EXPECT_FALSE(time->displayFormat().contains(QLatin1Char('t')));
    EXPECT_FALSE(date->isEnabled());
    EXPECT_FALSE(time->isEnabled());

    for (int m = 1; m <= 3; ++m) {
        auto* ok = controls_.Get<QPushButton>(QStringLiteral("ButtonM%1").arg(m));
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->text(), QStringLiteral("Ok"));
        EXPECT_FALSE(ok->icon().isNull());
        EXPECT_TRUE(ok->isDefault());
        EXPECT_TRUE(ok->isHidden());
    }
}

// The faces the window asks for resolve to Arial and Times New Roman or to
// their metric-compatible stand-ins, which the geometry was designed for.
TEST(Fonts, NamedFacesResolveToMetricCompatibleFaces)
{
    const QString sans = QFontInfo(RoleFont(FontRole::Caption)).family();
    const QString serif = QFontInfo(RoleFont(FontRole::Window)).family();
    EXPECT_TRUE(sans == QLatin1String("Arial") || sans == QLatin1String("Liberation Sans")) << sans.toStdString();
    EXPECT_TRUE(serif == QLatin1String("Times New Roman") || serif == QLatin1String("Liberation Serif"))
        << serif.toStdString();
    EXPECT_EQ(QFontInfo(RoleFont(FontRole::Title)).pixelSize(), 21);
    EXPECT_TRUE(RoleFont(FontRole::MaskGroup).italic());
    EXPECT_TRUE(RoleFont(FontRole::MaskGroup).underline());
}

}  // namespace
