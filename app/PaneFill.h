// A control that lies on a page of a tab widget, clear of every frame and box
// on that page, can fill its rectangle with the page's own fill before it
// paints: then a change of it repaints the control alone, not the pane,
// panels and frames behind it, and the picture is the same. The pickers need
// it most: the style lets a spin box show the page through its rounded
// corners, so it would never paint opaque by itself.
#pragma once

class QTabWidget;
class QWidget;

// Gives `widget` the fill `pane`'s style paints its pages with, active and
// inactive (and the active one while the widget is disabled), as its background, and fills its rectangle
// with it. The fill goes in a colour role no style paints a label, line edit
// or spin box with, so the control looks as it did. A style whose pages are
// not one plain colour leaves the widget as it was. Called again when the
// pane's palette or style changes.
void PaintPaneFillBehind(QWidget* widget, const QTabWidget* pane);
