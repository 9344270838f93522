// ktvtune: the tuning window.

#include "app/Form.h"
#include "app/Theme.h"
#include "device/HidPro.h"
#include "device/platform/DeviceWatcher.h"
#include "device/platform/LinuxHidPlatform.h"

#include <QApplication>

int main(int argc, char** argv)
{
    ktv::WarmUpFonts();
    QApplication app(argc, argv);
    ktv::ApplyTheme(app);
    QApplication::setApplicationName("ktvtune");
    QApplication::setApplicationDisplayName(ktv::ProductName);

    // Real boxes and the virtual boxes of this user.
    ktv::LinuxHidPlatform platform;
    ktv::Hid().SetPlatform(&platform);

    ktv::DeviceWatcher watcher;
    ktv::TFormMain form(nullptr, &watcher);
    ktv::SetUserInterface(&form);
    form.show();
    const int code = app.exec();
    ktv::SetUserInterface(nullptr);
    ktv::Hid().CloseDevice();
    ktv::Hid().SetPlatform(nullptr);
    return code;
}
