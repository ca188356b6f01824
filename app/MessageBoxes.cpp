#include "app/MessageBoxes.h"

#include <QMessageBox>

namespace {
ErrorMessageHook& hook()
{
    static ErrorMessageHook h;
    return h;
}
}

ErrorMessageHook SetErrorMessageHook(ErrorMessageHook h)
{
    ErrorMessageHook old = std::move(hook());
    hook() = std::move(h);
    return old;
}

void ShowErrorMessage(QWidget* parent, const ErrorMessage& message)
{
    if (hook()) {
        hook()(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, message.caption, message.text, QMessageBox::Ok, parent);
    if (!message.detail.isEmpty())
        box.setInformativeText(message.detail);
    box.exec();
}
