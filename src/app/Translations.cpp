#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace ktv {

bool InstallTranslations(QCoreApplication& app, const QLocale& locale)
{
    // English is the source language: nothing to load, and no near match
    // (an en_GB file, say) may replace the source texts.
    if (locale.language() == QLocale::C || locale.language() == QLocale::English)
        return false;
    auto* ours = new QTranslator(&app);
    if (!ours->load(locale, "ktvtune", "_", ":/i18n")) {
        delete ours;
        return false;
    }
    QCoreApplication::installTranslator(ours);
    // Qt's own texts (OK, Cancel, the file dialog), where the system has them.
    auto* qt = new QTranslator(&app);
    if (qt->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    return true;
}

} // namespace ktv
