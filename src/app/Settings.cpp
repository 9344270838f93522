#include "app/Settings.h"

namespace ktv {

std::unique_ptr<QSettings> OpenSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, "ktvtune", "ktvtune");
}

void ResetSettings()
{
    const auto settings = OpenSettings();
    settings->clear();
    settings->sync();
}

} // namespace ktv
