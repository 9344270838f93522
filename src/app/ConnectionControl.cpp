#include "app/ConnectionControl.h"

#include "app/Theme.h"
#include "base/UserInterface.h"
#include "device/HidPro.h"
#ifdef _WIN32
#include "device/platform/WindowsDeviceWatcher.h"
#else
#include "device/platform/DeviceWatcher.h"
#endif
#include "params/BoxLink.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QInputDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#ifdef Q_OS_WIN
#include <QWinEventNotifier>
#endif

namespace ktv {
namespace {

// The link's watch as the event loop takes it, and back.
#ifdef Q_OS_WIN
LinkNotifier* NewLinkNotifier(LinkWatch watch, QObject* parent) { return new LinkNotifier(watch, parent); }
LinkWatch Watched(const LinkNotifier* notifier) { return notifier->handle(); }
#else
LinkNotifier* NewLinkNotifier(LinkWatch watch, QObject* parent)
{
    return new LinkNotifier(watch, QSocketNotifier::Read, parent);
}
LinkWatch Watched(const LinkNotifier* notifier) { return LinkWatch(notifier->socket()); }
#endif

} // namespace

ConnectionControl::ConnectionControl(QWidget* window, DeviceWatcher* watcher, Controls controls,
                                     std::function<void()> readFromBox)
    : QObject(window), window_(window), watcher_(watcher), controls_(controls), readFromBox_(std::move(readFromBox))
{
    ChooseBox = [this](const QStringList& identifiers) {
        bool ok = false;
        const QString chosen = QInputDialog::getItem(window_, tr("Connect"), tr("Several boxes are present. Link to:"),
                                                     identifiers, 0, false, &ok);
        return ok ? int(identifiers.indexOf(chosen)) : -1;
    };

    BoxLink& link = Link();
    // The rest of the action that asked is dropped until the event loop
    // takes over again; then edits go out (or ask) as before.
    const auto resumeWhenIdle = [this] { QTimer::singleShot(0, this, [] { Link().ResumeEdits(); }); };
    link.ReadFromBox = [this, resumeWhenIdle] {
        if (ReadKeepingEdit)
            ReadKeepingEdit();
        else
            readFromBox_();
        resumeWhenIdle();
        ReleaseAfterQuestion();
    };
    link.EditCancelled = [this, resumeWhenIdle] {
        if (TakeEditBack)
            TakeEditBack();
        resumeWhenIdle();
    };
    link.BoxGone = [this] {
        // A box that stopped answering for good is gone, whether or not its
        // removal was ever reported.
        Unlink();
        Ui().ShowMessage("DSP USB Plugout!");
    };
    link.AskUnread = [this] {
        if (QGuiApplication::mouseButtons() != Qt::NoButton)
            pressedAtQuestion_ = QApplication::widgetAt(QCursor::pos());
        const int answer = Ui().Ask(tr("KTV Tune has not read this box's settings yet. Read them first?").toStdString(),
                                    {tr("Read from box").toStdString(), tr("Send my change").toStdString(),
                                     tr("Cancel").toStdString()});
        if (answer != AnswerReadFirst)
            ReleaseAfterQuestion(); // otherwise after the read and its message
        return answer;
    };
}

ConnectionControl::~ConnectionControl()
{
    BoxLink& link = Link();
    link.ReadFromBox = nullptr;
    link.EditCancelled = nullptr;
    link.BoxGone = nullptr;
    link.AskUnread = nullptr;
}

#ifndef Q_OS_WIN // ConnectionControlWindows.cpp
void ConnectionControl::WatchDevices()
{
    // Device arrival and removal reach us through the event loop: the
    // watcher's descriptor becomes readable, no thread involved.
    if (watcher_ && watcher_->Register([this](const DeviceEvent& e) { DeviceChange(e.Kind, e.Path); })) {
        notifier_ = new QSocketNotifier(watcher_->Fd(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            if (watcher_ && watcher_->Registered())
                watcher_->ProcessPendingEvents();
        });
    }
}
#endif

void ConnectionControl::Close()
{
    StopWatchingLink();
    CloseBoxLink();
    StopWatchingDevices();
}

#ifndef Q_OS_WIN
void ConnectionControl::StopWatchingDevices()
{
    // The notifier goes before the descriptor it watches is closed.
    delete notifier_;
    notifier_ = nullptr;
    if (watcher_)
        watcher_->Unregister();
}
#endif

void ConnectionControl::SetConnectGlyph(int index) { controls_.Connect->setIcon(QIcon(ConnectGlyph(index))); }

void ConnectionControl::ConnectBitBtnClick()
{
    HidPro& hid = Hid();
    StopWatchingLink();
    if (hid.Linked) {
        CloseBoxLink();
    } else {
        const std::vector<HidInterface> boxes = hid.ListBoxes();
        std::size_t chosen = 0;
        if (boxes.size() > 1) {
            QStringList identifiers;
            for (const HidInterface& b : boxes)
                identifiers << QString::fromStdString(b.InstanceId);
            const int index = ChooseBox ? ChooseBox(identifiers) : 0;
            if (index < 0 || index >= identifiers.size())
                return; // cancelled: nothing was opened, nothing changes
            chosen = std::size_t(index);
        }
        (void)OpenBoxLink(boxes.empty() ? std::string() : boxes[chosen].Path);
    }

    ShowLinkedBox(hid.Linked ? QString::fromStdString(hid.OpenedId) : QString());
    if (hid.Linked) {
        Link().LinkMade();
        WatchLink();
        Ui().SetStatus(StatusPanel::Connection, "Connect:ok!");
        SetConnectGlyph(1);
        if (controls_.Auto->isChecked())
            readFromBox_();
    } else {
        Ui().SetStatus(StatusPanel::Connection, "Connect:no!");
        SetConnectGlyph(0);
    }
}

void ConnectionControl::DeviceChange(DeviceEventKind kind, const std::string& path)
{
    if (path.find(BoxIdentifier) == std::string::npos)
        return;
    if (kind == DeviceEventKind::Arrival) {
        Ui().ShowMessage("DSP USB Plugin!");
        return;
    }
    Ui().ShowMessage("DSP USB Plugout!");
    // A second box of the same kind leaving does not end the link.
    if (Hid().Linked && path != Hid().OpenedId)
        return;
    Unlink();
}

void ConnectionControl::WatchLink()
{
    StopWatchingLink();
    HidPlatform* platform = Hid().Platform();
    const LinkWatch watch = platform ? platform->WatchLink(Hid().Handle) : NoLinkWatch;
    if (watch == NoLinkWatch)
        return;
    linkNotifier_ = NewLinkNotifier(watch, this);
    connect(linkNotifier_, &LinkNotifier::activated, this, &ConnectionControl::LinkActivity);
}

void ConnectionControl::StopWatchingLink()
{
    if (!linkNotifier_)
        return;
    // It may be the notifier whose signal is running.
    linkNotifier_->setEnabled(false);
    linkNotifier_->deleteLater();
    linkNotifier_ = nullptr;
}

void ConnectionControl::LinkActivity()
{
    HidPro& hid = Hid();
    if (!hid.Linked || !hid.Platform()) {
        StopWatchingLink();
        return;
    }
    if (hid.Platform()->HungUp(hid.Handle)) {
        Unlink();
        Ui().ShowMessage("DSP USB Plugout!");
        return;
    }
    // Connected again to a box that had closed the connection.
    if (linkNotifier_ && hid.Platform()->WatchLink(hid.Handle) != Watched(linkNotifier_))
        WatchLink();
}

void ConnectionControl::Unlink()
{
    StopWatchingLink();
    Hid().Linked = false;
    Hid().CloseDevice();
    Ui().SetStatus(StatusPanel::Connection, "Connect:no!");
    SetConnectGlyph(0);
    ShowLinkedBox(QString());
}

void ConnectionControl::ShowLinkedBox(const QString& identifier) { controls_.LinkedBox->setText(identifier); }

void ConnectionControl::ReleaseAfterQuestion()
{
    // The control pressed when the question came up never saw its release,
    // which went to the question: a slider would go on stepping. Its press
    // handler is still running under us and starts that stepping when it
    // returns; the posted release arrives after it, as no modal box follows.
    QWidget* pressed = pressedAtQuestion_;
    pressedAtQuestion_ = nullptr;
    if (!pressed)
        return;
    const QPoint at = QCursor::pos();
    QCoreApplication::postEvent(pressed, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(pressed->mapFromGlobal(at)),
                                                         QPointF(at), Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

} // namespace ktv
