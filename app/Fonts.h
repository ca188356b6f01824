// Font roles of the main window. Every control gets its font (and, where the
// role has one, its text colour) from one of these roles, so a face or a size
// is decided in one place. Heights are in pixels, as designed at 96 dpi.
// "Arial" and "Times New Roman" are asked for by name; on Linux fontconfig
// maps them to the metric-compatible Liberation Sans and Liberation Serif.
#pragma once

#include <QColor>
#include <QFont>

class QWidget;

enum class FontRole {
    Window,        // Times New Roman 12 bold: the window's default (buttons, group titles, bit texts)
    Caption,       // Arial 12: captions, units, check boxes, spin edits, combo boxes, most edits
    Value,         // Times New Roman 12 bold, black: the value fields of page 0 and the live fields
    Arial13,       // Arial 13: the lamps of the record pages and the report buttons
    Title,         // Times New Roman 21 bold: the title on page 0
    Notice,        // Times New Roman 19 bold, maroon: "НЕТ СВЯЗИ С ЗАЩИТОЙ!"
    HelpSmall,     // Times New Roman 16 bold, maroon: help notes
    HelpLarge,     // Times New Roman 19 bold, maroon: help notes
    Separator,     // Times New Roman 15 bold, grey: rows of underscores
    Tabs,          // Times New Roman 12: the page tabs
    Times15,       // Times New Roman 15: the caption of the blocking box
    MaskGroup,     // Times New Roman 13 italic underlined: the titles of the mask group boxes
    About,         // Arial 15: the text of the about page
};

// The font of a role. Family, pixel size, weight, italic and underline are
// all set explicitly, so a child never inherits a style from its parent.
QFont RoleFont(FontRole role);

// The text colour of a role, or an invalid colour for the palette's own.
QColor RoleColor(FontRole role);

// Gives the widget the font of the role and, if the role has a colour, uses
// it for the widget's text in every colour group (disabled included).
void ApplyFontRole(QWidget* widget, FontRole role);
