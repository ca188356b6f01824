#include "app/Fonts.h"

#include <QPalette>
#include <QWidget>

namespace {

const char* const kArial = "Arial";
const char* const kTimes = "Times New Roman";

QFont MakeFont(const char* family, int pixels, bool bold, bool italic = false,
               bool underline = false)
{
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(false);
    // Ask fontconfig for a metric-compatible face when the named one is missing.
    font.setStyleHint(qstrcmp(family, kArial) == 0 ? QFont::SansSerif : QFont::Serif);
    return font;
}

}  // namespace

QFont RoleFont(FontRole role)
{
    switch (role) {
    case FontRole::Window:    return MakeFont(kTimes, 12, true);
    case FontRole::Caption:   return MakeFont(kArial, 12, false);
    case FontRole::Value:     return MakeFont(kTimes, 12, true);
    case FontRole::Arial13:   return MakeFont(kArial, 13, false);
    case FontRole::Title:     return MakeFont(kTimes, 21, true);
    case FontRole::Notice:    return MakeFont(kTimes, 19, true);
    case FontRole::HelpSmall: return MakeFont(kTimes, 16, true);
    case FontRole::HelpLarge: return MakeFont(kTimes, 19, true);
    case FontRole::Separator: return MakeFont(kTimes, 15, true);
    case FontRole::Tabs:      return MakeFont(kTimes, 12, false);
    case FontRole::Times15:   return MakeFont(kTimes, 15, false);
    case FontRole::MaskGroup: return MakeFont(kTimes, 13, false, true, true);
    case FontRole::About:     return MakeFont(kArial, 15, false);
    }
    return MakeFont(kTimes, 12, true);
}

QColor RoleColor(FontRole role)
{
    switch (role) {
    case FontRole::Value:
        return QColor(0, 0, 0);
    case FontRole::Notice:
    case FontRole::HelpSmall:
    case FontRole::HelpLarge:
        return QColor(128, 0, 0);      // maroon
    case FontRole::Separator:
        return QColor(128, 128, 128);  // grey
    default:
        return QColor();
    }
}

void ApplyFontRole(QWidget* widget, FontRole role)
{
    widget->setFont(RoleFont(role));
    const QColor color = RoleColor(role);
    if (!color.isValid())
        return;
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::Text, color);
        palette.setColor(group, QPalette::ButtonText, color);
    }
    widget->setPalette(palette);
}
