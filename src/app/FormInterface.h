#pragma once
// What the core shows to a person, shown by the main window: message boxes
// and questions over it, its status-bar panels and the busy cursor.

#include "base/UserInterface.h"

namespace ktv {

class TFormMain;

class FormInterface final : public UserInterface {
public:
    explicit FormInterface(TFormMain& form) : form_(form) {}

    void ShowMessage(std::string_view text) override;
    void SetStatus(StatusPanel panel, std::string_view text) override;
    void SetBusyCursor(bool busy) override;
    void Sleep(int milliseconds) override;
    int Ask(std::string_view question, const std::vector<std::string>& answers) override;
    void SetExchangeWarning(bool on) override;

private:
    TFormMain& form_;
    int busyDepth_ = 0;
};

} // namespace ktv
