// ktvtune: the tuning window.

#include "app/Form.h"
#include "app/Settings.h"
#include "app/Theme.h"
#include "app/Translations.h"
#include "device/HidPro.h"
#include "device/platform/DeviceWatcher.h"
#include "device/platform/LinuxHidPlatform.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    ktv::WarmUpFonts();
    QApplication app(argc, argv);
    ktv::ApplyTheme(app);
    ktv::InstallTranslations(app);
    QApplication::setApplicationName("ktvtune");
    QApplication::setApplicationDisplayName(ktv::ProductName);

    const QStringList args = QApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == "--reset-settings") {
            ktv::ResetSettings();
        } else if (args[i] == "-h" || args[i] == "--help") {
            std::fputs("Usage: ktvtune [--reset-settings]\n\n"
                       "  --reset-settings  forget the remembered window size and place, last tab,\n"
                       "                    AUTO and folders, and start as on the first run\n",
                       stdout);
            return 0;
        } else {
            std::fprintf(stderr, "ktvtune: unknown argument '%s'\nTry 'ktvtune --help'.\n", qPrintable(args[i]));
            return 2;
        }
    }

    // Real boxes and the virtual boxes of this user.
    ktv::LinuxHidPlatform platform;
    ktv::Hid().SetPlatform(&platform);

    ktv::DeviceWatcher watcher;
    ktv::TFormMain form(nullptr, &watcher);
    ktv::SetUserInterface(&form.Interface());
    form.show();
    const int code = app.exec();
    ktv::SetUserInterface(nullptr);
    ktv::Hid().CloseDevice();
    ktv::Hid().SetPlatform(nullptr);
    return code;
}
