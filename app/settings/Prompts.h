// The choices and notices of the settings actions go through hooks, so that
// tests answer them instead of a person: which file to save to or open, and
// a notice that something was done. By default the toolkit's file dialog
// and an information box are shown.
#pragma once

#include <QString>
#include <functional>

class QWidget;

enum class FileChoice { Save, Open, Sheet };

using FileChooserHook = std::function<QString(FileChoice choice, const QString& caption)>;
// Replaces the hook; an empty hook restores the file dialog. Returns the old one.
FileChooserHook SetFileChooserHook(FileChooserHook hook);
// The path chosen, or empty when the user cancelled.
QString ChooseFile(QWidget* parent, FileChoice choice, const QString& caption);

struct Notice {
    QString caption;
    QString text;
    QString detail;
};
using NoticeHook = std::function<void(const Notice&)>;
NoticeHook SetNoticeHook(NoticeHook hook);
// An information box that does not wait to be closed.
void ShowNotice(QWidget* parent, const Notice& notice);
