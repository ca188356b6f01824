// What screen readers and AT-SPI tools learn about the self-drawn lamps.
//
// TLedIndicator and TComLed paint themselves, so Qt alone would offer an
// assistive tool a nameless, stateless widget. With these interfaces a lamp
// tells its caption as its name, "on" or "off" as its value, and its lit state
// as the checked state (checkable, read-only for a plain indicator), so a
// screen reader says "Отсечка: on".
#pragma once

#include <functional>

class QAccessibleEvent;
class QWidget;

// The value text of a lit and of a dark lamp.
extern const char* const kLampOnText;
extern const char* const kLampOffText;

// Installs the interface factory for both lamp classes; the lamps call it when
// they are made, and only the first call does anything.
void InstallLampAccessibility();

// Tells an assistive tool, if one listens, that the lamp went lit or dark.
void NotifyLampStateChanged(QWidget* lamp);
// ... that the lamp's caption changed.
void NotifyLampNameChanged(QWidget* lamp);

// While set, the announcements above go to this hook instead of Qt's
// accessibility (which hands them on only while an assistive tool listens).
// For tests; an empty function restores the normal way.
void SetLampEventHook(std::function<void(QAccessibleEvent& event)> hook);
