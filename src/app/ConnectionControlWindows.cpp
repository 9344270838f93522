// Windows only: how the main window hears of boxes arriving and leaving.
// Real boxes: the watcher registers the window for the HID interface class's
// device notification (RegisterDeviceNotificationW), and the window's native
// event handler hands each WM_DEVICECHANGE to DeviceMessage. Virtual boxes:
// the event loop watches the watcher's folder-change handle.

#include "app/ConnectionControl.h"
#include "app/Form.h"

#include "device/platform/WindowsDeviceWatcher.h"

#include <QGuiApplication>
#include <QWinEventNotifier>

#include <windows.h>

namespace ktv {

void ConnectionControl::WatchDevices()
{
    if (!watcher_)
        return;
    // Only a window of the Windows platform receives the system's
    // broadcasts (the tests' offscreen one has no system window).
    void* window = nullptr;
    if (QGuiApplication::platformName() == QLatin1String("windows"))
        window = reinterpret_cast<void*>(window_->winId());
    if (!watcher_->Register(window, [this](const DeviceEvent& e) { DeviceChange(e.Kind, e.Path); }))
        return;
    if (void* folder = watcher_->FolderChangeHandle()) {
        folderNotifier_ = new QWinEventNotifier(static_cast<HANDLE>(folder), this);
        connect(folderNotifier_, &QWinEventNotifier::activated, this, [this] {
            if (watcher_ && watcher_->Registered())
                watcher_->ProcessPendingEvents();
        });
    }
}

void ConnectionControl::StopWatchingDevices()
{
    // The notifier goes before the handle it watches is closed.
    delete folderNotifier_;
    folderNotifier_ = nullptr;
    if (watcher_)
        watcher_->Unregister();
}

bool ConnectionControl::DeviceMessage(const void* message)
{
    const auto* msg = static_cast<const MSG*>(message);
    return watcher_ && msg && msg->message == WM_DEVICECHANGE &&
           watcher_->HandleDeviceChange(std::uintptr_t(msg->wParam), std::intptr_t(msg->lParam));
}

bool TFormMain::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    if (eventType == "windows_generic_MSG" && connection_ && connection_->DeviceMessage(message)) {
        *result = TRUE;
        return true;
    }
    return QMainWindow::nativeEvent(eventType, message, result);
}

} // namespace ktv
