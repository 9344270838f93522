#include "Command.h"

#include "interop/FilterDialects.h"

#include <CLI/CLI.hpp>

namespace ktv::cli {

namespace {

constexpr const char* Program = "ktvtune-cli";

constexpr const char* Intro =
    "Talks to the first KTV DSP box found (real boxes first, then virtual\n"
    "boxes run by ktvtune-box), or to the one --device names.\n";

constexpr const char* ExitStatus =
    "Exit status: 0 success, 1 box missing or an exchange failed,\n"
    "2 wrong usage or a bad file; diff exits 1 when the presets differ.\n";

constexpr Option Globals[] = {
    {"-q", "--quiet", nullptr, Synopsis | Optional | Table, "do not print the status texts of each exchange"},
    {"-v", "--verbose", nullptr, Synopsis | Optional | Table,
     "also print the status texts of the exchanges that went well\n(\"Write:ok!\", \"Read:Ok!\")"},
    {"-d", "--device", "BOX", Synopsis | Optional | Table,
     "the box to talk to: its identifier, its path or its\nnumber, as 'list' shows them, or the name a\nvirtual box was started with"},
    {"-h", "--help", nullptr, Table, "show this help ('ktvtune-cli COMMAND --help' for one command)"},
};

// Rows of a table: the left column two spaces in and 19 wide, the text
// beside it; a longer left column puts the text on the next line.
constexpr std::size_t LeftWidth = 19;

std::string Row(const std::string& left, std::string_view text)
{
    const std::string indent(2 + LeftWidth, ' ');
    std::string row = "  " + left;
    if (left.size() + 2 <= LeftWidth)
        row.append(LeftWidth - left.size(), ' ');
    else
        row += "\n" + indent;
    for (const char c : text) {
        row += c;
        if (c == '\n')
            row += indent;
    }
    return row + "\n";
}

// An element as a usage line shows it. The overview spells the global
// options out; a command's line uses the short name where there is one.
std::string Word(const Option& o, bool longName)
{
    std::string word = !o.Long ? "" : (o.Short && !longName) ? o.Short : o.Long;
    if (o.Value)
        word += (word.empty() ? "" : " ") + std::string(o.Value);
    return word;
}

// The ways to call with `options` that show `where` (Synopsis or Brief),
// each a line of words; a Break starts a continuation line, marked by "\n".
std::vector<std::string> Forms(std::span<const Option> options, unsigned where, bool longNames)
{
    std::vector<std::string> forms(1);
    for (const Option& o : options) {
        if ((o.Shown & NewForm) && !forms.back().empty())
            forms.emplace_back();
        if (!(o.Shown & where))
            continue;
        std::string& line = forms.back();
        std::string word = Word(o, longNames);
        if (o.Shown & Either) {
            line.pop_back(); // the "]" of the alternative before
            line += " | " + word + "]";
            continue;
        }
        if (o.Shown & Optional)
            word = "[" + word + "]";
        line += (line.empty() ? "" : (o.Shown & Break) && where == Synopsis ? "\n" : " ") + word;
    }
    return forms;
}

std::string Joined(std::string_view first, const std::string& words)
{
    std::string line(first);
    line += words.empty() ? "" : " ";
    for (const char c : words) {
        line += c;
        if (c == '\n')
            line.append(first.size() + 1, ' ');
    }
    return line;
}

// A help text with the registry's lists put in, so that a dialect registered
// later is named by every command that reads or writes it.
std::string Expanded(std::string_view text)
{
    static const std::pair<std::string_view, std::string> lists[] = {
        {"{filter-readers}", FilterDialectNames()},
        {"{filter-writers}", FilterExportNames()},
        {"{filter-formats}", FilterExportIds()},
    };
    std::string out(text);
    for (const auto& [name, list] : lists)
        for (std::size_t at; (at = out.find(name)) != std::string::npos;)
            out.replace(at, name.size(), list);
    return out;
}

} // namespace

std::span<const Option> GlobalOptions() { return Globals; }

std::string Usage(const Command& command)
{
    std::string usage;
    const std::string call = std::string(Program) + " " + command.Name;
    for (const std::string& form : Forms(command.OptionList(), Synopsis, false))
        usage += Joined((usage.empty() ? "Usage: " : "       ") + call, form) + "\n";
    usage += "\n";
    usage += Expanded(command.Description);
    std::string table;
    for (const Option& o : command.Options)
        if (o.Shown & Table)
            table += Row(Word(o, true), Expanded(o.Help));
    if (!table.empty())
        usage += "\n" + table;
    return usage;
}

std::string MainUsage()
{
    std::string usage = "Usage: " + Joined(Program, Forms(Globals, Synopsis, true).front()) + " COMMAND [ARGS]\n\n";
    usage += Intro;
    usage += "\nCommands:\n";
    for (const Command* c : Commands()) {
        const std::vector<std::string> forms = Forms(c->OptionList(), Brief, false);
        for (std::size_t n = 0; n < forms.size(); ++n)
            usage += Row(Joined(c->Name, forms[n]) + (c->MoreOptions ? " [options]" : ""), Expanded(c->Summaries.begin()[n]));
    }
    usage += "\nOptions:\n";
    for (const Option& o : Globals)
        if (o.Shown & Table)
            usage += Row((o.Short ? std::string(o.Short) + ", " : "") + Word(o, true), o.Help);
    return usage + "\n" + ExitStatus;
}

int NoSoundCard(Context& cx, const Arguments&)
{
    cx.Say("ktvtune-cli: measuring is not part of this build (no sound card support)\n");
    return ExitFailed;
}

int Refuse(Context& cx, const Arguments& a, const std::string& what) { return UsageError(cx, Usage(*a.Of), what); }

int CheckWords(Context& cx, const Arguments& a)
{
    const int most = a.Of->MostWords;
    if (most >= 0 && a.Free.size() > std::size_t(most))
        return Refuse(cx, a, "unexpected argument '" + a.Free[std::size_t(most)] + "'");
    for (const Option& o : a.Of->Options)
        if ((o.Shown & Needed) && a.Value(o.Long).empty())
            return Refuse(cx, a, std::string(a.Of->Name) + " needs " + Word(o, false));
    return ExitOk;
}

const std::string& Arguments::Value(const std::string& option) const
{
    static const std::string none;
    const auto it = Values.find(option);
    return it == Values.end() ? none : it->second;
}

bool Arguments::Flag(const std::string& option) const
{
    const auto it = Flags.find(option);
    return it != Flags.end() && it->second;
}

bool Arguments::Given(const char* option) const { return Parsed->count(option) > 0; }

} // namespace ktv::cli
