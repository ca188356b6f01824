// Which exchange runs follows the page the user looks at: leaving a page
// withdraws its pending read, entering one with the link present asks for its
// read (and blanks the page until the first reply is due), entering one
// without a link empties its values so old ones are not taken for current.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "app/ComLed.h"
#include "app/LedIndicator.h"
#include "app/SpinEdit.h"
#include "app/UnitMain.h"

bool TForm1::LinkPresent() const
{
    return ComLed->State() == lsOn && !LinkLost();
}

void TForm1::PageControl1Changing(int leavingIndex)
{
    switch (leavingIndex) {
    case 0: ReadParamRequest = 0; break;
    case 1: case 2: ReadUstNastRequest = 0; break;
    case 3: case 4: case 5: case 6: ReadProtokolRequest = 0; break;
    case 7: ReadMaskRequest = 0; break;
    default: break;
    }
    // No control keeps the focus, so values set from here on are never taken
    // for the user's edits; an unconfirmed edit is dropped as its control is left.
    if (QWidget* focused = QApplication::focusWidget())
        focused->clearFocus();
}

void TForm1::PageControl1Change(int shownIndex)
{
    const bool link = LinkPresent();
    if (link) {
        switch (shownIndex) {
        case 0: ReadParamRequest = 1; break;
        case 1: ExchangeContext = 12; ReadUstNastRequest = 1; break;
        case 2: ExchangeContext = 11; ReadUstNastRequest = 1; break;
        case 3: case 4: case 5: case 6:
            ProtokolNumber = uint8_t(shownIndex - 2);
            ReadProtokolRequest = 1;
            break;
        case 7: ReadMaskRequest = 1; break;
        default: break;
        }
        if (shownIndex >= 0 && shownIndex < 8)
            Panel_[shownIndex]->setVisible(false);
        if (!Timer2->isActive())
            Timer2->start();
    } else {
        resetPage(shownIndex);
    }
}

void TForm1::resetPage(int index)
{
    auto clearText = [this](const QString& name) {
        if (auto* edit = ControlAs<QLineEdit>(name))
            edit->clear();
    };
    auto toMinimum = [this](const QString& name) {
        if (auto* spin = ControlAs<TSpinEdit>(name))
            spin->SetValue(spin->MinValue());
    };
    switch (index) {
    case 0:
        clearCurrentParams();
        break;
    case 1:
        for (int i = 0; i <= 22; ++i)
            if (i != 21)
                toMinimum(QStringLiteral("SE%1").arg(i));
        break;
    case 2:
        for (const char* name : {"EditA", "EditB", "EditC", "EditU"})
            clearText(QLatin1String(name));
        for (int i = 1; i <= 13; ++i)
            toMinimum(QStringLiteral("NSE%1").arg(i));
        toMinimum(QStringLiteral("NSE21"));
        for (int i = 1; i <= 4; ++i)
            if (auto* box = ControlAs<QComboBox>(QStringLiteral("CB%1").arg(i)))
                box->setCurrentIndex(-1);
        break;
    case 3: case 4: case 5: case 6: {
        const int n = index - 2;
        clearText(QStringLiteral("DataP%1").arg(n));
        clearText(QStringLiteral("TimeP%1").arg(n));
        for (int k = 1; k <= 11; ++k)
            clearText(QStringLiteral("P%1E%2").arg(n).arg(k));
        for (int k = 1; k <= 15; ++k)
            if (auto* led = ControlAs<TLedIndicator>(QStringLiteral("P%1L%2").arg(n).arg(k)))
                led->SetChecked(false);
        break;
    }
    case 7:
        for (int m = 1; m <= 3; ++m) {
            if (QWidget* ok = Control(QStringLiteral("ButtonM%1").arg(m)))
                ok->setVisible(false);
            clearText(QStringLiteral("EditMask%1").arg(m));
            for (int k = 1; k <= 15; ++k)
                if (auto* box = ControlAs<QCheckBox>(QStringLiteral("M%1CB%2").arg(m).arg(k)))
                    box->setChecked(false);
        }
        break;
    default:
        break;
    }
}
