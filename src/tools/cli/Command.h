#pragma once
// A command of ktvtune-cli as data: its name, the words and options it
// takes, what it does, and the function that runs it. The parser declares
// the options from this, and the usage texts (the overview and each
// command's --help) are put together from it, so a command is one file and
// one line in Commands.def.

#include "Context.h"

#include <initializer_list>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace ktv::cli {

// Where an element of the command line shows, and how.
enum Show : unsigned {
    Synopsis = 1,  // in the command's usage line
    Brief = 2,     // in the overview's line for the command
    Table = 4,     // in the table of options under the description
    Optional = 8,  // in [brackets]
    Either = 16,   // one bracket with the element before it: [A | B]
    Break = 32,    // starts a new line of the usage, under the first word
    NewForm = 64,  // starts another way to call the command (another usage line)
    Needed = 128,  // the command is refused without it, before it runs
};

// A word of the command line: a free argument (Long is null: Value names it)
// or an option with its value (Value null: a flag).
struct Option {
    const char* Short; // "-o", or null
    const char* Long;  // "--output"
    const char* Value; // what it takes, as the usage shows it: "FILE.dap"
    unsigned Shown;
    const char* Help = nullptr; // its row in the table (Show::Table)
};

constexpr Option Free(const char* value, unsigned shown = Synopsis | Brief) { return {nullptr, nullptr, value, shown}; }

// What the command line gave a command, as typed: each command checks its
// own and words its own refusals.
struct Command;
struct Arguments {
    std::vector<std::string> Free; // the arguments that are no option
    const CLI::App* Parsed = nullptr;
    const Command* Of = nullptr;
    // An option's value, by its long name; empty when it was not given.
    const std::string& Value(const std::string& option) const;
    bool Flag(const std::string& option) const;
    bool Given(const char* option) const;

    std::map<std::string, std::string> Values;
    std::map<std::string, bool> Flags;
};

// Each command's file defines one, by designated initializers; the lists
// live as long as the command, a constant of the program.
struct Command {
    const char* Name = nullptr;
    // The overview's text for each way to call the command (one per form).
    std::initializer_list<const char*> Summaries{};
    // The overview ends the command's line with "[options]": it leaves some out.
    bool MoreOptions = false;
    std::initializer_list<Option> Options{}; // in the order the usage shows them
    // The most free words it takes; more are refused before it runs. -1: it checks them itself.
    int MostWords = -1;
    const char* Description = nullptr; // under the usage line(s), up to the options table
    int (*Run)(Context& cx, const Arguments& a) = nullptr;

    std::span<const Option> OptionList() const { return {Options.begin(), Options.size()}; }
};

// What 'measure' and 'devices' do in a build without the sound card: say so; ExitFailed.
int NoSoundCard(Context& cx, const Arguments& a);

// Says what is wrong with the command line and shows the command's usage; ExitUsage.
int Refuse(Context& cx, const Arguments& a, const std::string& what);

// What every command refuses before it runs: more free words than it takes,
// a needed option left out. ExitOk, or the exit status of the refusal.
int CheckWords(Context& cx, const Arguments& a);

// The command's --help: its usage line(s), the description and the table.
std::string Usage(const Command& command);
// ktvtune-cli --help: the usage, every command's line and the global options.
std::string MainUsage();
// The options before the command, as the overview shows them.
std::span<const Option> GlobalOptions();

// The commands in the order the overview lists them.
std::span<const Command* const> Commands();

} // namespace ktv::cli
