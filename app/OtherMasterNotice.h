// The window's notice of another master on the line: a plain line along the
// bottom of the window, shown from the first frame of another master's seen
// until the line is opened again, because values read meanwhile may have
// been taken from someone else's traffic.
#pragma once

class QWidget;
class RelaySession;

void ShowOtherMasterNotice(QWidget* form, RelaySession* session);
