#include "presets/BoxJournal.h"

#include "base/Utf8Path.h"
#include "presets/DapFile.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include "base/WinText.h"
#endif

namespace ktv {

namespace fs = std::filesystem;

namespace {

// A box identifier as a folder name: anything else becomes '_'.
std::string Tame(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.') ? c : '_';
    return out;
}

bool Kept(unsigned char c) { return std::isalnum(c) || c == '-' || c == '.' || c >= 0x80; }

// A step name as part of a file name, to be read back whole: letters,
// digits, '-', '.' and everything outside ASCII (a preset named in Chinese)
// stay, a space becomes '_', any other character %XX. At most StepBytes of
// text, cut before a character, not inside one.
std::string StepToName(const std::string& step)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    std::size_t taken = 0;
    while (taken < step.size()) {
        std::size_t len = 1;
        const auto lead = static_cast<unsigned char>(step[taken]);
        if (lead >= 0xC0)
            len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        len = std::min(len, step.size() - taken);
        std::string piece;
        for (std::size_t i = taken; i < taken + len; ++i) {
            const auto c = static_cast<unsigned char>(step[i]);
            if (c == ' ')
                piece += '_';
            else if (Kept(c))
                piece += char(c);
            else
                piece += {'%', hex[c >> 4], hex[c & 15]};
        }
        if (out.size() + piece.size() > BoxJournal::StepBytes) {
            out += "\xE2\x80\xA6"; // "…": the rest does not fit a file name
            break;
        }
        out += piece;
        taken += len;
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Back from the file name; names kept before escapes were used read as before.
std::string NameToStep(const std::string& name)
{
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '_') {
            out += ' ';
        } else if (name[i] == '%' && i + 2 < name.size() && HexDigit(name[i + 1]) >= 0 && HexDigit(name[i + 2]) >= 0) {
            out += char(HexDigit(name[i + 1]) * 16 + HexDigit(name[i + 2]));
            i += 2;
        } else {
            out += name[i];
        }
    }
    return out;
}

bool IsJournalName(const std::string& name)
{
    // yyyymmdd-hhmmss-uuuuuu-STEP.dap: the names sort as the times do.
    return name.size() > 27 && name.ends_with(".dap") && name[8] == '-' && name[15] == '-' && name[22] == '-' &&
           std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::string BoxJournal::LoadPresetStep(const std::string& fileName) { return "Load preset " + fileName; }

std::string BoxJournal::SwitchStep(int slot) { return slot == 0 ? "Compare A" : "Compare B"; }

bool BoxJournal::IsSwitch(const std::string& after) { return after == SwitchStep(0) || after == SwitchStep(1); }

std::string DataDirectory()
{
#ifdef _WIN32
    // The wide form: the narrow one loses a user name outside the ANSI code page.
    if (const wchar_t* local = _wgetenv(L"LOCALAPPDATA"); local && *local)
        return Utf8String(fs::path(local) / "ktvtune");
    return {};
#else
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return std::string(data) + "/ktvtune";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/share/ktvtune";
    return {};
#endif
}

BoxJournal::BoxJournal(const std::string& boxIdentifier, std::string root)
{
    if (root.empty()) {
        const std::string data = DataDirectory();
        if (data.empty())
            return;
        root = Utf8String(Utf8Path(data) / "journal");
    }
    folder_ = Utf8String(Utf8Path(root) / Tame(boxIdentifier));
}

bool BoxJournal::Save(const std::string& after, std::string* why)
{
    auto fail = [&](std::string text) {
        if (why)
            *why = std::move(text);
        return false;
    };
    if (folder_.empty())
        return fail("no folder for user data (HOME is not set)");
    const fs::path folder = Utf8Path(folder_);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return fail(folder_ + ": " + ec.message());

    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    long micros = long(std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    // The entry a switch folds into; looked for before this one is added.
    std::string folded;
    if (IsSwitch(after)) {
        const std::vector<JournalEntry> before = List();
        if (!before.empty() && IsSwitch(before.front().After))
            folded = before.front().Path;
    }
    // Two saves within the same microsecond still keep their order: the
    // later one takes the next free number.
    std::string path;
    for (;; ++micros) {
        char name[64];
        std::snprintf(name, sizeof name, "%s-%06ld-", stamp, micros % 1000000);
        bool taken = false;
        for (const fs::directory_entry& e : fs::directory_iterator(folder, ec))
            taken = taken || Utf8String(e.path().filename()).starts_with(name);
        if (!taken) {
            path = Utf8String(folder / Utf8Path(name + StepToName(after) + ".dap"));
            break;
        }
    }
    FileWriteError error = FileWriteError::None;
    if (!WriteDapFile(path, &error))
        return fail(path + ": " + FileWriteErrorText(error));

    if (!folded.empty())
        fs::remove(Utf8Path(folded), ec);
    const std::vector<JournalEntry> all = List();
    for (std::size_t i = Keep; i < all.size(); ++i)
        fs::remove(Utf8Path(all[i].Path), ec);
    return true;
}

std::vector<JournalEntry> BoxJournal::List() const
{
    std::vector<JournalEntry> entries;
    std::error_code ec;
    const fs::path folder = Utf8Path(folder_);
    if (folder_.empty() || !fs::is_directory(folder, ec))
        return entries;
    for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
        const std::string name = Utf8String(e.path().filename());
        if (!IsJournalName(name) || !e.is_regular_file(ec))
            continue;
        JournalEntry entry;
        entry.Path = Utf8String(e.path());
        entry.Time = name.substr(0, 4) + "-" + name.substr(4, 2) + "-" + name.substr(6, 2) + " " + name.substr(9, 2) +
                     ":" + name.substr(11, 2) + ":" + name.substr(13, 2);
        entry.After = NameToStep(name.substr(23, name.size() - 27));
        entries.push_back(std::move(entry));
    }
    // The names start with the time: newest first is the names backwards.
    std::sort(entries.begin(), entries.end(), [](const JournalEntry& a, const JournalEntry& b) {
        return Utf8Path(a.Path).filename() > Utf8Path(b.Path).filename();
    });
    return entries;
}

} // namespace ktv
