// Page 7, "Маски": the three protection masks as columns of check boxes.
#include "app/layout/Rows.h"

namespace layout {

PageTable MakePage7()
{
    const QString P = QStringLiteral("Panel8");
    PageTable page;
    page.index = 7;
    page.sheet = QStringLiteral("TabSheet8");
    page.caption = QStringLiteral("Маски");
    page.outerPanel = QStringLiteral("Panel18");
    page.contentPanel = P;
    page.notice = QStringLiteral("LabelS8");
    auto& rows = page.rows;

    rows.push_back(Separator(QStringLiteral("Separator12"), P, QRect(12, 312, 576, 17), 76));

    struct MaskLine {
        const char* box;
        QRect geometry;
        int left;        // left of the field and the button under the box
    };
    // Mask 1 trips, mask 2 makes an event record, mask 3 signals.
    const MaskLine masks[3] = {
        {"GroupBoxM1", {16, 8, 185, 265}, 64},
        {"GroupBoxM2", {206, 8, 203, 265}, 272},
        {"GroupBox7", {413, 8, 169, 265}, 472},
    };
    const int tops[15] = {20, 35, 50, 65, 80, 95, 110, 125, 150, 165, 180, 195, 210, 225, 240};

    for (int m = 1; m <= 3; ++m) {
        const MaskLine& line = masks[m - 1];
        const QString box = QString::fromLatin1(line.box);
        const QString field = QStringLiteral("EditMask%1").arg(m);
        rows.push_back(Row(ControlKind::GroupBox, box, P, line.geometry, FontRole::MaskGroup, EntryOf(field).caption));
        for (int k = 1; k <= 15; ++k) {
            int width = 170;
            if (m == 3)
                width = (k >= 2 && k <= 8) ? 160 : 150;
            rows.push_back(Bound(ControlKind::CheckBox, QStringLiteral("M%1CB%2").arg(m).arg(k), box,
                                 QRect(7, tops[k - 1], width, 17)));
        }
        {
            ControlRow row = Field(field, P, QRect(line.left, 276, 105, 23), FontRole::Window);
            CaptionEndingAt(row, line.left - 4, 50, QStringLiteral("Маска:"));
            rows.push_back(row);
        }
        {
            ControlRow row = Row(ControlKind::Button, QStringLiteral("ButtonM%1").arg(m), P,
                                 QRect(line.left, 300, 105, 23), FontRole::Window, QStringLiteral("Ok"));
            row.visible = false;
            row.reg = EntryOf(field).reg;   // the mask it confirms
            rows.push_back(row);
        }
    }

    // The help note: confirm a mask with the button under it.
    rows.push_back(HelpNote(QStringLiteral("HelpNote5"), P, 80, 329, 505,
                            QStringLiteral("Для изменения маски, после редактирования, необходимо"),
                            FontRole::HelpLarge));
    rows.push_back(HelpNote(QStringLiteral("HelpNote6"), P, 88, 352, 420,
                            QStringLiteral("обязательно нажать кнопку \"Ок\" под маской !"), FontRole::HelpLarge));

    rows.push_back(Notice(QStringLiteral("LabelS8"), P, 192, 376));
    return page;
}

}  // namespace layout
