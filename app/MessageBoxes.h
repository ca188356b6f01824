// Error message boxes go through one hook, so tests can answer them instead
// of a person; by default a modal box is shown.
#pragma once

#include <QString>
#include <functional>

class QWidget;

struct ErrorMessage {
    QString caption;
    QString text;
    QString detail;
};

using ErrorMessageHook = std::function<void(const ErrorMessage&)>;

// Replaces the hook; an empty hook restores the modal box. Returns the old one.
ErrorMessageHook SetErrorMessageHook(ErrorMessageHook hook);

void ShowErrorMessage(QWidget* parent, const ErrorMessage& message);
