// The write controls and a watching station (zashchita --read-only, or
// ZASHCHITA_READ_ONLY=1). Every control that writes takes its look from
// WriteLookOf: in a watching station all of them are disabled and greyed,
// the spin edits without their arrows, the clock buttons and the masks' Ok
// hidden, the notes about ENTER and "Ок" hidden and the load not offered;
// the title and the status bar say "только просмотр". The handlers check
// the mode as well, so no path to a write is left even through a key or a
// shortcut.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

#include "app/Fonts.h"
#include "app/UnitMain.h"
#include "app/settings/SettingsActions.h"
#include "exchanges/Masks.h"
#include "exchanges/SetpointsConfig.h"

namespace {
// The notes that ask for ENTER or "Ок" after an edit.
const char* const kWriteNotes[] = {"HelpNote1", "HelpNote2", "HelpNote3", "HelpNote4", "HelpNote5", "HelpNote6"};
}  // namespace

void TForm1::SetReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
    if (readOnly && !statusBar_->findChild<QLabel*>(QStringLiteral("ReadOnlyMark"))) {
        setWindowTitle(windowTitle() + QStringLiteral(" — только просмотр"));
        auto* mark = new QLabel(QStringLiteral("Только просмотр"), statusBar_);
        mark->setObjectName(QStringLiteral("ReadOnlyMark"));
        mark->setFont(RoleFont(FontRole::Window));
        mark->setStyleSheet(QStringLiteral("QLabel { color: #8A0000; padding: 0 6px; }"));
        mark->setToolTip(QStringLiteral("Запись в защиту отключена: уставки, маски и часы только показываются"));
        statusBar_->addPermanentWidget(mark);
        // Greyed, yet the values stay easy to read from across the room.
        for (int page : {kSetpointsPage, kConfigurationPage})
            for (const BoundControl& b : registers_.Page(page)) {
                QPalette palette = b.widget->palette();
                palette.setColor(QPalette::Disabled, QPalette::Text, QColor(70, 70, 70));
                palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(70, 70, 70));
                b.widget->setPalette(palette);
            }
    }
    applyWriteControls();
}

WriteConditions TForm1::WritingConditions() const
{
    return {portOpen(), LinkPresent(), readOnly_, clockEdited_};
}

void TForm1::applyWriteControls()
{
    const WriteConditions c = WritingConditions();
    for (int page : {kSetpointsPage, kConfigurationPage}) {
        for (const BoundControl& b : registers_.Page(page))
            if (b.row->kind == ControlKind::SpinEdit || b.row->kind == ControlKind::ComboBox)
                ApplyWriteLook(b.widget, WriteLookOf(WriteControl::Setting, c, OwnWriteRule(b.widget, b.row->enabled)));
    }
    for (const BoundControl& b : registers_.Page(kMasksPage)) {
        if (b.row->kind == ControlKind::CheckBox)
            ApplyWriteLook(b.widget, WriteLookOf(WriteControl::MaskBox, c, b.row->enabled));
        else if (b.row->kind == ControlKind::Button)
            ApplyWriteLook(b.widget, WriteLookOf(WriteControl::MaskOk, c, b.row->reg == maskUnderEdit_));
    }
    ApplyWriteLook(ButtonSys, WriteLookOf(WriteControl::ClockFromPc, c));
    ApplyWriteLook(ButtonDT, WriteLookOf(WriteControl::ClockFromPickers, c));
    ApplyWriteLook(DPicker, WriteLookOf(WriteControl::ClockPicker, c));
    ApplyWriteLook(TPicker, WriteLookOf(WriteControl::ClockPicker, c));
    for (const char* note : kWriteNotes)
        if (QWidget* w = Control(QLatin1String(note)))
            ApplyWriteLook(w, WriteLookOf(WriteControl::WriteNote, c));
    if (settingsActions_)
        settingsActions_->WritesChanged();
}
