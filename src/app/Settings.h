#pragma once
// What the window remembers between runs (size and place, last tab, AUTO,
// folders): one INI file under the user's configuration directory.

#include <QSettings>

#include <memory>

namespace ktv {

// ~/.config/ktvtune/ktvtune.ini, or under the path set with
// QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, ...).
std::unique_ptr<QSettings> OpenSettings();
// Forgets everything remembered: the next window starts as on a first run.
void ResetSettings();

} // namespace ktv
