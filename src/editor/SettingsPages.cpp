#include "editor/SettingsPages.h"

namespace ktv {

SettingsPages::SettingsPages(const std::uint8_t& channel, QWidget* parent) : QTabWidget(parent), channel_(channel)
{
    setObjectName("PageControlSet");
    for (const char* page : {"MIC", "MUSIC", "EFFECT", "OUT"})
        addTab(new QWidget(this), page);
    tabBar()->hide();
}

void SettingsPages::ShowPageFor(EqChannel channel)
{
    int page = channel <= EqChannel::EFFECT ? int(channel) : 3;
    setCurrentIndex(page);
}

void SettingsPages::ShowRightLine(bool) {}

void SettingsPages::LoadSettings() {}

} // namespace ktv
