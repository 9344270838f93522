#pragma once
// The window's language: English texts are the source, other languages come
// from the translations built into the program and are chosen by the locale.

#include <QLocale>

class QCoreApplication;

namespace ktv {

// Installs our translation and Qt's own (dialog buttons) for `locale`, where
// we have them; the C locale and English keep the source texts. Returns
// whether our translation was found.
bool InstallTranslations(QCoreApplication& app, const QLocale& locale = QLocale::system());

} // namespace ktv
