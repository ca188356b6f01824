// A watching station (zashchita --read-only, or ZASHCHITA_READ_ONLY=1):
// every control that would write refuses to. The settings' edits and the
// masks' edits take no typing, their selection and check boxes no clicks;
// ENTER writes nothing; the clock buttons stay hidden and the load is not
// offered; the title says so. The handlers check the mode as well, so no
// path to a write is left even through a key or a shortcut.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPushButton>

#include "app/UnitMain.h"
#include "app/settings/SettingsActions.h"
#include "exchanges/Masks.h"
#include "exchanges/SetpointsConfig.h"

void TForm1::SetReadOnly(bool readOnly)
{
    readOnly_ = readOnly;
    if (!readOnly)
        return;
    setWindowTitle(windowTitle() + QStringLiteral(" — только просмотр"));
    for (int page : {kSetpointsPage, kConfigurationPage, kMasksPage}) {
        for (const BoundControl& c : registers_.Page(page)) {
            if (auto* edit = qobject_cast<QLineEdit*>(c.widget))
                edit->setReadOnly(true);
            else if (qobject_cast<QComboBox*>(c.widget) || qobject_cast<QAbstractButton*>(c.widget))
                c.widget->setEnabled(false);
        }
    }
    for (int reg : kMaskRegisters)
        maskOk(reg)->setVisible(false);
    ButtonSys->setVisible(false);
    ButtonDT->setVisible(false);
    DPicker->setEnabled(false);
    TPicker->setEnabled(false);
    settingsActions_->LoadAction()->setVisible(false);
    settingsActions_->LoadAction()->setEnabled(false);
}
