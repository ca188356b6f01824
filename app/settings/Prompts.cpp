#include "app/settings/Prompts.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {
FileChooserHook& chooser()
{
    static FileChooserHook h;
    return h;
}
NoticeHook& notices()
{
    static NoticeHook h;
    return h;
}
const char* const kSettingsFilter = "Файлы уставок (*.json *.ini);;Все файлы (*)";
const char* const kSheetFilter = "Лист уставок PDF (*.pdf)";
}  // namespace

FileChooserHook SetFileChooserHook(FileChooserHook hook)
{
    FileChooserHook old = std::move(chooser());
    chooser() = std::move(hook);
    return old;
}

QString ChooseFile(QWidget* parent, FileChoice choice, const QString& caption)
{
    if (chooser())
        return chooser()(choice, caption);
    const QString folder = QDir::currentPath();
    switch (choice) {
    case FileChoice::Save:
        return QFileDialog::getSaveFileName(parent, caption, folder, QString::fromUtf8(kSettingsFilter));
    case FileChoice::Open:
        return QFileDialog::getOpenFileName(parent, caption, folder, QString::fromUtf8(kSettingsFilter));
    case FileChoice::Sheet:
        break;
    }
    return QFileDialog::getSaveFileName(parent, caption, folder, QString::fromUtf8(kSheetFilter));
}

NoticeHook SetNoticeHook(NoticeHook hook)
{
    NoticeHook old = std::move(notices());
    notices() = std::move(hook);
    return old;
}

void ShowNotice(QWidget* parent, const Notice& notice)
{
    if (notices()) {
        notices()(notice);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Information, notice.caption, notice.text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (!notice.detail.isEmpty())
        box->setInformativeText(notice.detail);
    box->open();
}
