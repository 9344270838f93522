#pragma once
// What the core shows to a person and the pauses it makes between requests go
// through this one interface: the window implements it with message boxes,
// the status bar and the busy cursor; tests capture everything instead.

#include <string>
#include <string_view>
#include <vector>

namespace ktv {

// Status-bar panels of the main window.
enum class StatusPanel : int { Connection = 0, Exchange = 1, Device = 2 };

class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A modal message box; returns when the user has closed it.
    virtual void ShowMessage(std::string_view text) = 0;
    virtual void SetStatus(StatusPanel panel, std::string_view text) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    // A plain pause on the calling thread.
    virtual void Sleep(int milliseconds) = 0;
    // A modal question offering `answers`; returns the index of the one
    // chosen, or -1 when it was closed without an answer (the caller then
    // takes its safe course). Nobody answers on a console.
    virtual int Ask(std::string_view question, const std::vector<std::string>& answers)
    {
        (void)question;
        (void)answers;
        return -1;
    }
    // Marks the exchange panel: the box may not hold what the window shows.
    virtual void SetExchangeWarning(bool on) { (void)on; }
};

// The interface in use. Until one is installed, messages and status texts go
// to stderr and pauses really sleep.
UserInterface& Ui();
// Installs `ui` (nullptr restores the default); returns the previous one.
UserInterface* SetUserInterface(UserInterface* ui);

} // namespace ktv
