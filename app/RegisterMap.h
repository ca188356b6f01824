// The register map bound to the window: for every page, the controls that
// show or set a relay register, taken from the layout tables in table order.
// Decoders, writes and page resets walk these instead of naming controls.
#pragma once

#include <QHash>
#include <QString>
#include <vector>

#include "app/LayoutTables.h"
#include "link/RegisterValues.h"

#include <QWidget>

struct BoundControl {
    const ControlRow* row = nullptr;
    QWidget* widget = nullptr;
};

using PageControls = std::vector<BoundControl>;

class RegisterMap {
public:
    // Binds every register row of every page to its widget, found by name.
    template <class Find> void Bind(Find find)
    {
        pages_.clear();
        byWidget_.clear();
        for (const PageTable& page : LayoutTables()) {
            PageControls controls;
            for (const ControlRow& row : page.rows)
                if (row.reg >= 0)
                    if (QWidget* w = find(row.name))
                        controls.push_back({&row, w});
            pages_.push_back(std::move(controls));
        }
        for (const PageControls& controls : pages_)
            for (const BoundControl& c : controls)
                byWidget_.insert(c.widget, &c);
    }

    // The register controls of page `index` (none for an index off the pages).
    const PageControls& Page(int index) const;
    // The bound control for a widget (a handler's sender), or nullptr.
    const BoundControl* Of(const QObject* widget) const { return byWidget_.value(widget, nullptr); }

private:
    std::vector<PageControls> pages_;
    QHash<const QObject*, const BoundControl*> byWidget_;
};

// The edited mark, kept in each editable control's "Tag" property: 111 while
// the user has changed it without confirming, 0 while it follows the relay.
constexpr int kTagEdited = 111;
constexpr int kTagFollowing = 0;
bool IsEdited(const QObject* control);
void SetEdited(QObject* control, bool edited);

// Shows `value` in the control as its kind and format say: decimal or bit text
// in a value field, the value within range in a spin edit, the item in a
// selection box, the row's bit in a check box or lamp. Touches the control
// only when what it shows changes.
void ShowRegisterValue(const BoundControl& control, uint16_t value);

// Fills every control of `controls` whose register the reply carries
// (moments excepted: their exchange composes them). With respectMarks, a
// control the user is editing is left alone. Returns the controls filled.
std::vector<const BoundControl*> DecodeReply(const PageControls& controls, const RegisterValues& reply,
                                             bool respectMarks);

// The empty look of a page entered without a link: value fields and moments
// emptied, spin edits at their minimum, no item selected, boxes and lamps off,
// confirm buttons hidden.
void ResetControl(const BoundControl& control);

// Sets a line edit's text only when it differs, so that an unchanged reply
// costs no repaint.
void SetTextIfChanged(QWidget* edit, const QString& text);
