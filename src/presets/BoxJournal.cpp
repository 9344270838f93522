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

// File names carry the time and the next step; anything else in a box
// identifier or a step name becomes '_'.
std::string Tame(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.') ? c : '_';
    return out;
}

bool IsJournalName(const std::string& name)
{
    // yyyymmdd-hhmmss-uuuuuu-STEP.dap: the names sort as the times do.
    return name.size() > 27 && name.ends_with(".dap") && name[8] == '-' && name[15] == '-' && name[22] == '-' &&
           std::all_of(name.begin(), name.begin() + 8, [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

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
            path = Utf8String(folder / (name + Tame(after) + ".dap"));
            break;
        }
    }
    FileWriteError error = FileWriteError::None;
    if (!WriteDapFile(path, &error))
        return fail(path + ": " + FileWriteErrorText(error));

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
        std::string after = name.substr(23, name.size() - 27);
        std::replace(after.begin(), after.end(), '_', ' ');
        entry.After = after;
        entries.push_back(std::move(entry));
    }
    // The names start with the time: newest first is the names backwards.
    std::sort(entries.begin(), entries.end(), [](const JournalEntry& a, const JournalEntry& b) {
        return Utf8Path(a.Path).filename() > Utf8Path(b.Path).filename();
    });
    return entries;
}

} // namespace ktv
