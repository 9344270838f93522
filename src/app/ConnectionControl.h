#pragma once
// The main window's link to a box: the Connect button, the box's arrival and
// removal, a linked box that dies without a word, the question before the
// first edit of a box not read yet, and the panel naming the linked box.

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class QSocketNotifier;
class QWinEventNotifier;

namespace ktv {

// What tells the event loop that the linked connection may have ended.
#ifdef Q_OS_WIN
using LinkNotifier = QWinEventNotifier;
#else
using LinkNotifier = QSocketNotifier;
#endif

class DeviceWatcher;
enum class DeviceEventKind;

// Part of the main window: its texts are the window's.
class ConnectionControl : public QObject {
    Q_DECLARE_TR_FUNCTIONS(ktv::TFormMain)

public:
    struct Controls {
        QPushButton* Connect = nullptr;
        QCheckBox* Auto = nullptr;
        QLabel* LinkedBox = nullptr; // the status-bar panel naming the box
    };
    // `readFromBox` runs "Read from dsp": after a link with AUTO ticked, and
    // when the first-edit question asks for it.
    ConnectionControl(QWidget* window, DeviceWatcher* watcher, Controls controls, std::function<void()> readFromBox);
    ~ConnectionControl() override;

    // Registers with the device watcher: its events arrive through the event loop.
    void WatchDevices();
    void ConnectBitBtnClick();
    void DeviceChange(DeviceEventKind kind, const std::string& path);
    // The window closes: the link ends, the device closes, the watcher lets go.
    void Close();
#ifdef Q_OS_WIN
    // The window's native message: a WM_DEVICECHANGE of a HID interface goes
    // to the watcher (true), anything else is not ours (false).
    bool DeviceMessage(const void* message);
#endif

    // Asked when Connect finds several boxes: the index of the chosen
    // identifier, or -1 when the user cancels.
    std::function<int(const QStringList& identifiers)> ChooseBox;

    // The answers to the first-edit question, set by the window: read the
    // box and put the edit that asked on top of it (unset: only the read),
    // or take that edit back.
    std::function<void()> ReadKeepingEdit;
    std::function<void()> TakeEditBack;

private:
    void SetConnectGlyph(int index);
    // Ends the press of the control that brought up the first-edit question.
    void ReleaseAfterQuestion();
    // The link is over: panel 0, the Connect picture and the transport say so.
    void Unlink();
    void ShowLinkedBox(const QString& identifier);
    void StopWatchingDevices();
    // Watches the linked connection: a box that dies without its removal
    // being reported is a removal at once, not at the next exchange.
    void WatchLink();
    void StopWatchingLink();
    void LinkActivity();

    QWidget* window_;
    DeviceWatcher* watcher_;
    Controls controls_;
    std::function<void()> readFromBox_;
    QSocketNotifier* notifier_ = nullptr;
    LinkNotifier* linkNotifier_ = nullptr; // on the linked connection itself
#ifdef Q_OS_WIN
    QWinEventNotifier* folderNotifier_ = nullptr; // the virtual-box folder's changes
#endif
    QPointer<QWidget> pressedAtQuestion_;
};

} // namespace ktv
