#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// The catalogues of the Qt modules the window uses.
const char* const kCatalogues[] = {"qtbase"};

}  // namespace

bool InstallQtTranslations(QCoreApplication& app)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    bool loaded = false;
    for (const char* catalogue : kCatalogues) {
        auto* translator = new QTranslator(&app);
        if (translator->load(russian, QString::fromLatin1(catalogue), QStringLiteral("_"), folder)
            && QCoreApplication::installTranslator(translator)) {
            loaded = true;
        } else {
            delete translator;
        }
    }
    return loaded;
}
