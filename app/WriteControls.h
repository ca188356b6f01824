// Which of the window's write controls can be used, and how each looks,
// decided in one place from the line, the link, the watching-station mode
// and a clock setting under edit. The window applies the answer to every
// write control whenever one of these changes.
#pragma once

class QWidget;

enum class WriteControl {
    Setting,           // a spin edit or selection box of "Уставки" or "Настройки"
    MaskBox,           // a check box of a mask
    MaskOk,            // a mask's "Ok"
    ClockFromPc,       // "Записать системные дату/время"
    ClockFromPickers,  // "Записать установ-ые дату/время"
    ClockPicker,       // the date and the time picker
    WriteNote,         // the red notes: confirm with ENTER, confirm with "Ок"
    LoadFromFile,      // "Загрузить из файла…"
};

struct WriteConditions {
    bool open = false;         // the line is open
    bool link = false;         // the relay answers on it
    bool readOnly = false;     // a watching station: no write of any kind
    bool clockEdited = false;  // the user has picked a moment that is not written yet
};

struct WriteLook {
    bool enabled = true;
    bool shown = true;
    bool arrows = true;   // a spin edit's up and down buttons
};

// The look of `control`. `own` is what the control's own rule allows: a box of
// a bit that is not the user's never, a setting only while the setting it
// depends on reads 0, a mask's Ok only while its mask is under edit.
WriteLook WriteLookOf(WriteControl control, const WriteConditions& conditions, bool own = true);

// Gives `control` the look: enabled or not, shown or not, and a spin edit's
// arrows. Touches only what changes.
void ApplyWriteLook(QWidget* control, const WriteLook& look);

// A control's own rule, kept on the control; `byDefault` until one is set.
void SetOwnWriteRule(QWidget* control, bool allows);
bool OwnWriteRule(const QWidget* control, bool byDefault);
