#include "base/UserInterface.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace ktv {
namespace {

class ConsoleInterface final : public UserInterface {
public:
    void ShowMessage(std::string_view text) override
    {
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
    }
    void SetStatus(StatusPanel, std::string_view) override {}
    void SetBusyCursor(bool) override {}
    void Sleep(int milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

ConsoleInterface consoleInterface;
UserInterface* current = &consoleInterface;

} // namespace

UserInterface& Ui() { return *current; }

UserInterface* SetUserInterface(UserInterface* ui)
{
    UserInterface* previous = current == &consoleInterface ? nullptr : current;
    current = ui ? ui : &consoleInterface;
    return previous;
}

} // namespace ktv
