// The main window's layout as data: one table per page, one row per control.
//
// A row gives a control's name (its objectName), kind, parent, geometry
// relative to that parent, its own text, the caption and unit labels that
// stand beside it, its font role, its limits and initial state, and the relay
// register behind it. BuildWindowLayout() creates the window from these
// tables; the decoders and the writes look rows up by name.
#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

#include "app/Fonts.h"

enum class ControlKind {
    Frame,       // bevelled QFrame drawn around a block of controls (not a parent)
    Line,        // vertical QFrame line
    GroupBox,    // QGroupBox, parent of its controls
    Label,       // QLabel: titles, notices, help notes, plain captions
    Separator,   // QLabel holding a row of underscores
    StaticText,  // QLabel with a sunken border and word wrap
    ValueField,  // QLineEdit, disabled: display only
    SpinEdit,    // TSpinEdit
    ComboBox,    // QComboBox, drop-down list without free text
    CheckBox,    // QCheckBox
    Button,      // QPushButton
    Led,         // TLedIndicator
    ComLed,      // TComLed
    DatePicker,  // QDateEdit with a calendar popup
    TimePicker,  // QTimeEdit
};

// A caption or unit label that belongs to a control and shares its parent.
struct AttachedLabel {
    QString name;           // objectName
    QString text;
    QRect geometry;         // relative to the control's parent
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
    FontRole font = FontRole::Caption;

    bool present() const { return !name.isEmpty(); }
};

// How a value field shows its register.
enum class ValueFormat {
    Decimal,   // plain unsigned decimal
    BitText,   // the sixteen bits as "00000000 00000000"
    Moment,    // part of a date or time, composed by its exchange
};

struct ControlRow {
    QString name;            // objectName
    ControlKind kind = ControlKind::Label;
    QString parent;          // objectName of the parent: a content panel, group box or page
    QRect geometry;          // relative to the parent
    QString text;            // own text: label, button, check box, group box or lamp caption,
                             // initial text of a field
    FontRole font = FontRole::Caption;
    Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;  // labels

    AttachedLabel caption;   // the caption before the field, first line
    AttachedLabel caption2;  // second line of a two-line caption
    AttachedLabel unit;      // the unit after the field

    int minValue = 0;        // spin edits
    int maxValue = 0;
    int increment = 1;
    int value = 0;           // initial value
    int maxLength = 0;       // 0: no limit of its own
    QStringList items;       // combo boxes, in list order

    bool enabled = true;
    bool visible = true;
    bool raised = false;     // frames: a raised bevel rather than a lowered one

    int reg = -1;            // relay register shown or set through this control, -1 for none
    int bit = -1;            // bit of that register (lamps and mask boxes), -1 for the whole word
    ValueFormat format = ValueFormat::Decimal;   // value fields
    int itemForLarger = -1;  // combo boxes: the item shown for a value past the list, -1 for none
    QString enabledWhileZero;  // spin edits: enabled only while that control reads 0
    bool keepOnReset = false;  // keeps what it shows when its page is entered without a link
};

struct PageTable {
    int index = 0;              // page index in PageControl1
    QString sheet;              // TabSheet1 .. TabSheet9
    QString caption;            // tab caption
    QString outerPanel;         // Panel11 .. Panel18, empty on the about page
    QString contentPanel;       // Panel1 .. Panel8, empty on the about page
    QString notice;             // LabelS1 .. LabelS8, empty on the about page
    std::vector<ControlRow> rows;  // in creation order: parents before their children
};

// Sizes of the page control's parts.
constexpr int kClientWidth = 605, kClientHeight = 442;
constexpr int kOuterPanelWidth = 597, kOuterPanelHeight = 412;
constexpr int kContentPanelWidth = 595, kContentPanelHeight = 410;

// All nine pages, in page order.
const std::vector<PageTable>& LayoutTables();

// The row of the control with this objectName, or nullptr. Caption and unit
// labels are not rows of their own; FindLabel() finds them.
const ControlRow* FindRow(const QString& name);

// The caption or unit label with this objectName, or nullptr.
const AttachedLabel* FindLabel(const QString& name);

// The page that holds the control (or attached label), or nullptr.
const PageTable* PageOf(const QString& name);

// Rows whose register is reg, in table order (a register may show in more
// than one place: e.g. 50 in E2 and EditA).
std::vector<const ControlRow*> RowsForRegister(int reg);
