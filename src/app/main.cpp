// ktvtune: the tuning window.

#include "app/Form.h"
#include "app/Settings.h"
#include "app/Theme.h"
#include "app/Translations.h"
#include "device/HidPro.h"
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>

#include "device/platform/SystemHidPlatform.h"
#ifdef Q_OS_WIN
#include "device/platform/WindowsDeviceWatcher.h"
#else
#include "device/platform/DeviceWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// Without a display Qt ends the program with a fatal message and a core
// dump. While the application is being built, messages are held back; a
// fatal one becomes a single line and exit status 1.
QtMessageHandler previousHandler = nullptr;
QList<std::pair<QtMsgType, QString>>* heldMessages = nullptr;

void HoldWhileStarting(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtFatalMsg) {
        std::fputs("ktvtune: cannot open a window: no display could be reached (is DISPLAY or WAYLAND_DISPLAY set?)\n",
                   stderr);
        std::_Exit(1);
    }
    if (heldMessages)
        heldMessages->append({type, text});
}

#ifndef Q_OS_WIN
// SIGTERM (a logout), SIGHUP and SIGINT close the window as its close box
// does, so what it remembers is saved. The handler only writes a byte; the
// event loop does the rest.
int signalPipe[2] = {-1, -1};

void NoteSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &byte, 1);
}
#endif

} // namespace

int main(int argc, char** argv)
{
#ifndef Q_OS_WIN
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        struct sigaction action = {};
        action.sa_handler = NoteSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (const int sig : {SIGTERM, SIGHUP, SIGINT})
            sigaction(sig, &action, nullptr);
    }
#endif
    ktv::WarmUpFonts();
    QList<std::pair<QtMsgType, QString>> held;
    heldMessages = &held;
    previousHandler = qInstallMessageHandler(HoldWhileStarting);
    QApplication app(argc, argv);
    qInstallMessageHandler(previousHandler);
    heldMessages = nullptr;
    for (const auto& [type, text] : held)
        qt_message_output(type, QMessageLogContext(), text);
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

    // Real boxes and the virtual boxes of this user; the window hears of
    // them arriving and leaving through the watcher (on Windows it registers
    // itself for device notification with it).
    ktv::SystemHidPlatform platform;
    ktv::Hid().SetPlatform(&platform);
    ktv::DeviceWatcher watcher;
    ktv::TFormMain form(nullptr, &watcher);
    ktv::SetUserInterface(&form.Interface());
    form.show();

#ifdef Q_OS_WIN
    // Ending the session quits the event loop without closing the window:
    // close it first, so what it remembers is saved.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&form] { form.close(); });
#else
    // A signal that came while the window was being built waits in the pipe.
    std::unique_ptr<QSocketNotifier> signalWatch;
    if (signalPipe[0] >= 0) {
        signalWatch = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalWatch.get(), &QSocketNotifier::activated, &form, [&form] {
            char byte = 0;
            [[maybe_unused]] const auto n = ::read(signalPipe[0], &byte, 1);
            form.close();
            QCoreApplication::exit(0);
        });
    }
#endif

    const int code = app.exec();
    ktv::SetUserInterface(nullptr);
    ktv::Hid().CloseDevice();
    ktv::Hid().SetPlatform(nullptr);
    return code;
}
