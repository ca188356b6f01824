// Qt's own texts in Russian: the file dialogs ("Имя файла", "Сохранить"),
// the edit fields' standard context menu ("Отменить", "Выделить всё"), the
// standard buttons. The window is Russian by design, so they are Russian
// whatever the user's locale.
#pragma once

class QCoreApplication;

// Installs Qt's Russian translations from Qt's translations folder
// (QLibraryInfo::TranslationsPath; Debian ships them in
// qt6-translations-l10n). False when none could be loaded: Qt's texts then
// stay English, and the window works on.
bool InstallQtTranslations(QCoreApplication& app);
