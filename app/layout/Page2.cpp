// Page 2, "Настройки": the relay's configuration, with the live phase
// currents and voltage beside the calibration coefficients.
#include "app/layout/Rows.h"

namespace layout {

PageTable MakePage2()
{
    const QString P = QStringLiteral("Panel3");
    PageTable page;
    page.index = 2;
    page.sheet = QStringLiteral("TabSheet3");
    page.caption = QStringLiteral("Настройки");
    page.outerPanel = QStringLiteral("Panel13");
    page.contentPanel = P;
    page.notice = QStringLiteral("LabelS3");
    auto& rows = page.rows;

    rows.push_back(Frame(QStringLiteral("FrameLive"), P, QRect(0, 80, 593, 101), true));

    // Captions end 5 pixels before the field; those of the right column are narrower.
    struct SettingLine {
        const char* key;
        QRect geometry;
    };
    const SettingLine settings[] = {
        {"NSE1", {237, 7, 74, 24}},    {"NSE2", {236, 29, 74, 24}},   {"NSE3", {236, 53, 74, 24}},
        {"NSE11", {492, 12, 74, 24}},  {"NSE4", {492, 36, 74, 24}},   {"NSE5", {237, 83, 74, 24}},
        {"NSE6", {237, 107, 74, 24}},  {"NSE7", {237, 131, 74, 24}},  {"NSE8", {237, 154, 74, 24}},
        {"NSE9", {237, 182, 74, 24}},  {"NSE10", {237, 206, 74, 24}}, {"NSE12", {237, 230, 74, 24}},
        {"NSE13", {237, 254, 74, 24}}, {"NSE21", {236, 278, 74, 24}},
    };
    for (const SettingLine& s : settings) {
        ControlRow row = Spin(QString::fromLatin1(s.key), P, s.geometry);
        const RegisterEntry& e = EntryOf(row.name);
        CaptionEndingAt(row, s.geometry.x() - 5, s.geometry.x() > 400 ? 140 : 225, e.caption);
        if (!e.unit.isEmpty())
            UnitAfter(row, e.unit);
        rows.push_back(row);
    }

    // Live values beside the phase and voltage coefficients.
    struct LiveLine {
        const char* key;
        int top;
    };
    const LiveLine live[] = {{"EditA", 83}, {"EditB", 106}, {"EditC", 129}, {"EditU", 153}};
    for (const LiveLine& l : live) {
        ControlRow row = Field(QString::fromLatin1(l.key), P, QRect(491, l.top, 70, 23), FontRole::Value);
        const RegisterEntry& e = EntryOf(row.name);
        CaptionEndingAt(row, 486, 130, e.caption);
        UnitAfter(row, e.unit);
        rows.push_back(row);
    }

    // Selection boxes.
    struct ChoiceLine {
        const char* key;
        QRect geometry;
        FontRole captionFont;
    };
    const ChoiceLine choices[] = {
        {"CB1", {236, 302, 105, 22}, FontRole::Times15},
        {"CB3", {236, 326, 105, 22}, FontRole::Caption},
        {"CB2", {237, 350, 105, 22}, FontRole::Caption},
        {"CB4", {237, 374, 292, 22}, FontRole::Caption},
    };
    for (const ChoiceLine& c : choices) {
        ControlRow row = Bound(ControlKind::ComboBox, QString::fromLatin1(c.key), P, c.geometry);
        CaptionEndingAt(row, c.geometry.x() - 5, 225, EntryOf(row.name).caption, c.captionFont);
        rows.push_back(row);
    }

    // The help note: press ENTER after typing a new value.
    rows.push_back(HelpNote(QStringLiteral("HelpNote1"), P, 337, 188, 250, QStringLiteral("Для изменения настройки,"),
                            FontRole::HelpSmall));
    rows.push_back(HelpNote(QStringLiteral("HelpNote2"), P, 337, 208, 250,
                            QStringLiteral("после ввода нового значения,"), FontRole::HelpSmall));
    rows.push_back(HelpNote(QStringLiteral("HelpNote3"), P, 337, 229, 250, QStringLiteral("необходимо обязательно"),
                            FontRole::HelpSmall));
    rows.push_back(HelpNote(QStringLiteral("HelpNote4"), P, 337, 253, 250,
                            QStringLiteral("нажать клавишу \"ENTER\" !"), FontRole::HelpLarge));

    rows.push_back(Notice(QStringLiteral("LabelS3"), P, 347, 316));
    return page;
}

}  // namespace layout
