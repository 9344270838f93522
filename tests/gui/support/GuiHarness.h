#pragma once
// The window under test: a fresh image, the in-process virtual box behind the
// transport, a user interface that records messages (so no modal box ever
// blocks) and still writes the status bar, and a shown main window.

#include "app/Form.h"
#include "core/TestSupport.h"
#include "editor/Peqa.h"

#include <QMouseEvent>
#include <QPoint>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace ktv::test {

// Where the program keeps its data (the box journal): the variable naming
// the folder, which each test points into a folder of its own.
#ifdef _WIN32
inline constexpr const char* DataHomeVariable = "LOCALAPPDATA";
#else
inline constexpr const char* DataHomeVariable = "XDG_DATA_HOME";
#endif

class WindowUi final : public UserInterface {
public:
    RecordingUi rec;
    TFormMain* form = nullptr;

    // Runs while a message is "shown"; a test may spin the event loop here
    // as a modal message box would.
    std::function<void()> whileMessageShown;

    void ShowMessage(std::string_view text) override
    {
        rec.ShowMessage(text);
        if (whileMessageShown)
            whileMessageShown();
    }
    void SetStatus(StatusPanel panel, std::string_view text) override
    {
        rec.SetStatus(panel, text);
        if (form)
            form->SetStatus(panel, text);
    }
    void SetBusyCursor(bool busy) override { rec.SetBusyCursor(busy); }
    void Sleep(int milliseconds) override { rec.Sleep(milliseconds); }
    int Ask(std::string_view question, const std::vector<std::string>& answers) override
    {
        return rec.Ask(question, answers);
    }
    void SetExchangeWarning(bool on) override
    {
        rec.SetExchangeWarning(on);
        if (form)
            form->SetExchangeWarning(on);
    }
};

class GuiHarness {
public:
    // Builds and shows the window and waits until the chart has its grid.
    // Its settings live in a fresh temporary folder (a first run) unless
    // keepSettings is set, when it finds what the previous window left.
    void Start();
    void Stop();

    TFormMain& Form() { return *form; }
    TFormPEQA& Editor() { return *form->FormPEQA(); }

    template <class T> T* Find(const char* name)
    {
        if (T* w = form->findChild<T*>(name))
            return w;
        return form->FormPEQA()->findChild<T*>(name);
    }

    // Payloads of the valid requests the box received since the last call.
    std::vector<Bytes> TakeRequests() { return session->TakeRequests(); }
    void ClearTraffic() { (void)TakeRequests(); }

    // Selects a main tab the way a click on it does.
    void SelectTab(int tab);

    WindowUi ui;
    bool keepSettings = false;
    // Set before Start: the window works in a fresh folder until Stop, so
    // that relative file names and the start folder stay out of the tree.
    bool inTempFolder = false;
    std::unique_ptr<QTemporaryDir> settingsDir;
    std::unique_ptr<QTemporaryDir> workDir;
    std::optional<BoxSession> session;
    InProcessBox* box = nullptr; // the session's
    std::unique_ptr<TFormMain> form;

private:
    QString startDir_;
};

// Expected payloads, built from the current image.
Bytes PeqBandsPayload(int band);
Bytes EqBypassPayload(int first, int count);
Bytes MasterVolumePayload();
Bytes MaxVolumePayload();

// Sends a mouse event straight to the widget (positions may lie outside it).
void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons);
// Whether the Connect button shows glyph `index`.
bool ShowsConnectGlyph(const QPushButton* button, int index);
// Focus leaves the widget as when the user tabs away.
void LeaveFocus(QWidget* widget);
// What the user guide (its text, `guide`) must name as the window names it:
// the menu items for measuring, fitting and restoring the box's kept states
// ("Measure › Sweep…") and the Sweep dialog's fields that need explaining.
// Returns those missing.
QStringList MissingFromGuide(TFormMain& form, const QString& guide);

} // namespace ktv::test
