#include "Cli.h"

#include "Command.h"

#include <CLI/CLI.hpp>

namespace ktv::cli {

namespace {

// A help word where a value was due still asks for help, as anywhere else.
void HelpWord(const std::string& value)
{
    if (value == "-h" || value == "--help")
        throw CLI::CallForHelp();
}

// Values are kept as typed: the commands check them and say what is wrong.
void Declare(CLI::App& app, std::span<const Option> options, Arguments& a)
{
    for (const Option& o : options) {
        if (!o.Long || std::string_view(o.Long) == "--help")
            continue;
        const std::string names = o.Short ? std::string(o.Short) + "," + o.Long : std::string(o.Long);
        if (o.Value)
            app.add_option(names, a.Values[o.Long])->each(HelpWord);
        else
            app.add_flag(names, a.Flags[o.Long]);
    }
}

// An option or word nobody takes: before the command, or the command's own.
std::string Unexpected(const std::string& arg, const char* word)
{
    return (arg.starts_with("-") ? "unknown option '" : std::string("unknown ") + word + " '") + arg + "'";
}

} // namespace

int RunCommandLine(Context& cx, int argc, const char* const* argv)
{
    Arguments given;
    CLI::App app;
    app.set_help_flag("-h,--help");
    app.allow_extras();
    app.require_subcommand(0, 1); // a later word that names a command stays an argument
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    Declare(app, GlobalOptions(), given);
    std::vector<std::pair<const CLI::App*, const Command*>> commands;
    for (const Command* c : Commands()) {
        CLI::App* command = app.add_subcommand(c->Name);
        command->allow_extras();
        command->add_option("free", given.Free);
        Declare(*command, c->OptionList(), given);
        // The global options also after the command's name: the same values.
        Declare(*command, GlobalOptions(), given);
        commands.emplace_back(command, c);
    }
    app.add_subcommand("help")->allow_extras();

    auto chosen = [&]() -> const Command* {
        for (const auto& [command, c] : commands)
            if (command->parsed())
                return c;
        return nullptr;
    };
    auto usageOf = [](const Command* c) { return c ? Usage(*c) : MainUsage(); };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const Command* c = app.get_help_ptr()->count() ? nullptr : chosen();
        std::fputs(usageOf(c).c_str(), cx.Out);
        return ExitOk;
    } catch (const CLI::ParseError& e) {
        // An option without its value: CLI11 names it before a colon, by its
        // long name; the message names it as typed, which is the last word.
        const std::string what = e.what();
        std::string option = what.substr(0, what.find(':'));
        const Command* c = chosen();
        if (e.get_name() != "ArgumentMismatch" || !option.starts_with("-"))
            return UsageError(cx, usageOf(c), what);
        const std::string typed = argv[argc - 1];
        const CLI::App* where = c ? app.get_subcommand(c->Name) : &app;
        for (const CLI::App* scope : {where, static_cast<const CLI::App*>(&app)}) {
            const CLI::Option* named = scope->get_option_no_throw(option);
            if (named && named == scope->get_option_no_throw(typed))
                option = typed;
        }
        return UsageError(cx, usageOf(c),
                          option + (option == "--device" || option == "-d" ? " needs a box" : " needs a value"));
    }
    cx.Ui.Quiet = given.Flag("--quiet");
    cx.Ui.Verbose = given.Flag("--verbose");
    cx.WantedBox = given.Value("--device");
    if (!app.remaining().empty())
        return UsageError(cx, MainUsage(), Unexpected(app.remaining().front(), "command"));
    const CLI::App* parsed = nullptr;
    if (const Command* c = chosen())
        parsed = app.get_subcommand(c->Name);
    const auto count = [&](const char* option) { return app.count(option) + (parsed ? parsed->count(option) : 0); };
    if (count("--device") && cx.WantedBox.empty())
        return UsageError(cx, MainUsage(), "--device needs a box");
    if (cx.Ui.Quiet && cx.Ui.Verbose)
        return UsageError(cx, MainUsage(), "--quiet and --verbose exclude each other");
    if (app.got_subcommand("help")) {
        std::fputs(MainUsage().c_str(), cx.Out);
        return ExitOk;
    }
    const Command* c = chosen();
    if (!c)
        return UsageError(cx, MainUsage(), "no command given");
    given.Of = c;
    given.Parsed = app.get_subcommand(c->Name);
    if (const std::vector<std::string> rest = given.Parsed->remaining(); !rest.empty())
        return UsageError(cx, Usage(*c), Unexpected(rest.front(), "argument"));
    if (const int refused = CheckWords(cx, given))
        return refused;
    UserInterface* before = SetUserInterface(&cx.Ui);
    const int status = c->Run(cx, given);
    SetUserInterface(before);
    return status;
}

} // namespace ktv::cli
