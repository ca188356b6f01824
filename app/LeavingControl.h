// When a setting control counts as left by the user.
#pragma once

#include <QFocusEvent>

// Losing the focus is leaving the control when the focus moves on to another
// control of the same window: Tab, a click, a page change, the focus taken
// away by code. The window losing its activation (another application, a
// message box) and a popup (a context menu, a list) take the focus only for
// a while and give it back to the control, whose edit then goes on.
inline bool LeavesControl(const QFocusEvent* event)
{
    const Qt::FocusReason reason = event->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}
