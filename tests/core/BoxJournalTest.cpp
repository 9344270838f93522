// The per-box journal of states kept before whole changes.

#include "core/TestSupport.h"
#include "params/Gloable.h"
#include "presets/BoxJournal.h"
#include "presets/DapFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ktv {
namespace {

namespace fs = std::filesystem;

TEST(BoxJournal, KeepsTheLastFiftyPerBoxNewestFirstAsPresets)
{
    test::TempDir dir;
    const std::string id = "VIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock";
    BoxJournal journal(id, dir.Path());
    BoxJournal other("HID\\VID_2B5E&PID_61D3\\6&1A", dir.Path());
    for (std::size_t i = 0; i < BoxJournal::Keep + 3; ++i) {
        LoadDefaults();
        DspParams.MicVol = std::uint8_t(i);
        ASSERT_TRUE(journal.Save(i == BoxJournal::Keep + 2 ? "recall 3" : "write"));
    }
    ASSERT_TRUE(other.Save("write"));
    EXPECT_NE(journal.Folder(), other.Folder());
    EXPECT_EQ(fs::path(journal.Folder()).parent_path(), fs::path(dir.Path()));

    const std::vector<JournalEntry> entries = journal.List();
    ASSERT_EQ(entries.size(), BoxJournal::Keep);
    EXPECT_EQ(entries[0].After, "recall 3");
    EXPECT_EQ(entries[1].After, "write");
    EXPECT_EQ(entries[0].Time.size(), 19u);
    // Newest first, the oldest three forgotten; each file a preset of the
    // state as it was, volumes included.
    for (std::size_t n = 0; n < entries.size(); ++n) {
        DapBytes bytes{};
        ASSERT_EQ(LoadDapFile(entries[n].Path, bytes), DapReadError::None);
        EXPECT_EQ(bytes[Dap::MicVol], BoxJournal::Keep + 2 - n) << n;
    }
    EXPECT_EQ(other.List().size(), 1u);

    // A folder that cannot be made: false, and why.
    std::ofstream(dir.File("file")) << "x";
    BoxJournal blocked(id, dir.File("file"));
    std::string why;
    EXPECT_FALSE(blocked.Save("write", &why));
    EXPECT_NE(why.find("file"), std::string::npos) << why;
    EXPECT_TRUE(blocked.List().empty());
}

// A/B switches, however many, take one entry: the states before the real
// changes stay among the fifty.
TEST(BoxJournal, ConsecutiveSwitchesFoldIntoTheLatest)
{
    test::TempDir dir;
    BoxJournal journal("VIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock", dir.Path());
    LoadDefaults();
    auto save = [&](const std::string& after, int micVol) {
        DspParams.MicVol = std::uint8_t(micVol);
        std::string why;
        ASSERT_TRUE(journal.Save(after, &why)) << why;
    };
    save("Write to dsp", 1);
    for (int i = 0; i < int(BoxJournal::Keep) + 10; ++i)
        save(BoxJournal::SwitchStep(i % 2), 10 + i % 80);
    save("Recall slot 2", 90);
    save(BoxJournal::SwitchStep(0), 91); // a new run after a real change
    save(BoxJournal::SwitchStep(1), 92);

    const std::vector<JournalEntry> entries = journal.List();
    const std::vector<std::pair<std::string, int>> expected = {
        {"Compare B", 92}, {"Recall slot 2", 90}, {"Compare B", 10 + (int(BoxJournal::Keep) + 9) % 80}, {"Write to dsp", 1}};
    ASSERT_EQ(entries.size(), expected.size());
    for (std::size_t n = 0; n < entries.size(); ++n) {
        EXPECT_EQ(entries[n].After, expected[n].first) << n;
        DapBytes bytes{};
        ASSERT_EQ(LoadDapFile(entries[n].Path, bytes), DapReadError::None);
        EXPECT_EQ(bytes[Dap::MicVol], expected[n].second) << n;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(journal.Folder()), fs::directory_iterator()), 4);
    EXPECT_TRUE(BoxJournal::IsSwitch("Compare A"));
    EXPECT_FALSE(BoxJournal::IsSwitch("Load preset Compare A"));
}

// What came after a state is read back as it was given: a preset's file
// name with spaces, punctuation, underscores and Chinese; one too long for
// a file name is cut at a character and marked.
TEST(BoxJournal, StepNamesComeBackWholeFromTheFileNames)
{
    test::TempDir dir;
    BoxJournal journal("box", dir.Path());
    LoadDefaults();
    std::string longName;
    for (int i = 0; i < 40; ++i)
        longName += "混响";
    const std::string cases[] = {
        BoxJournal::LoadPresetStep("club night.dap"),
        BoxJournal::LoadPresetStep("我的 KTV_房间 #1 (50%).dap"),
        BoxJournal::LoadPresetStep("a:b*c?d\"e<f>g|h/i\\j.dap"),
        "Recall slot 3",
    };
    for (const std::string& step : cases) {
        ASSERT_TRUE(journal.Save(step));
        const std::vector<JournalEntry> entries = journal.List();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.front().After, step);
        EXPECT_EQ(fs::path(std::u8string(entries.front().Path.begin(), entries.front().Path.end())).parent_path(),
                  fs::path(std::u8string(journal.Folder().begin(), journal.Folder().end())));
    }
    EXPECT_EQ(BoxJournal::LoadPresetStep("club night.dap"), "Load preset club night.dap");

    ASSERT_TRUE(journal.Save(BoxJournal::LoadPresetStep(longName + ".dap")));
    const JournalEntry cut = journal.List().front();
    const std::string mark = "\xE2\x80\xA6";
    ASSERT_TRUE(cut.After.ends_with(mark)) << cut.After;
    const std::string kept = cut.After.substr(0, cut.After.size() - mark.size());
    EXPECT_EQ(("Load preset " + longName).rfind(kept, 0), 0u) << kept;
    EXPECT_EQ((kept.size() - std::string("Load preset ").size()) % 3, 0u) << "cut inside a character";
    EXPECT_GE(kept.size(), BoxJournal::StepBytes - 3);
    EXPECT_LE(fs::path(std::u8string(cut.Path.begin(), cut.Path.end())).filename().u8string().size(),
              std::size_t(27 + BoxJournal::StepBytes + 3 + 4));

    // Names kept by earlier versions ('_' for every other character) read as before.
    std::ofstream(fs::path(std::u8string(journal.Folder().begin(), journal.Folder().end())) /
                  "20990101-000000-000000-Recall_slot_3.dap")
        << "x";
    EXPECT_EQ(journal.List().front().After, "Recall slot 3");
}

// A user folder named outside ASCII (and outside the ANSI code page on
// Windows): the journal is kept there and read back by the same names.
TEST(BoxJournal, KeepsAndListsItsFilesUnderANonAsciiFolder)
{
    test::TempDir dir;
    const std::string root = dir.File("用户 日志 ü");
    BoxJournal journal("VIRTUAL\\VID_2B5E&PID_61D3\\box-1.sock", root);
    LoadDefaults();
    DspParams.MicVol = 42;
    std::string why;
    ASSERT_TRUE(journal.Save("write", &why)) << why;
    ASSERT_TRUE(journal.Save("recall 2", &why)) << why;
    EXPECT_EQ(journal.Folder().rfind(root, 0), 0u) << journal.Folder();
    const std::vector<JournalEntry> entries = journal.List();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].After, "recall 2");
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(e.Path.rfind(root, 0), 0u) << e.Path;
        DapBytes bytes{};
        ASSERT_EQ(LoadDapFile(e.Path, bytes), DapReadError::None) << e.Path;
        EXPECT_EQ(bytes[Dap::MicVol], 42);
    }
    const std::u8string folder = std::u8string(journal.Folder().begin(), journal.Folder().end());
    EXPECT_TRUE(fs::is_directory(fs::path(folder)));
}

#ifdef _WIN32
TEST(BoxJournal, DataFolderIsInTheLocalApplicationData)
{
    const wchar_t* saved = _wgetenv(L"LOCALAPPDATA");
    const std::wstring keep = saved ? saved : L"";
    _wputenv_s(L"LOCALAPPDATA", L"C:\\Users\\u\\AppData\\Local");
    EXPECT_EQ(DataDirectory(), "C:\\Users\\u\\AppData\\Local\\ktvtune");
    // A user name outside the ANSI code page comes back whole, in UTF-8.
    _wputenv_s(L"LOCALAPPDATA", L"C:\\Users\\\u5f20\u4f1f\\AppData\\Local");
    EXPECT_EQ(DataDirectory(), "C:\\Users\\张伟\\AppData\\Local\\ktvtune");
    _wputenv_s(L"LOCALAPPDATA", keep.c_str()); // an empty value removes it again
}
#else
TEST(BoxJournal, DataFolderFollowsXdgDataHomeThenHome)
{
    const char* savedData = std::getenv("XDG_DATA_HOME");
    const std::string keepData = savedData ? savedData : "";
    setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(DataDirectory(), "/srv/data/ktvtune");
    setenv("XDG_DATA_HOME", "relative", 1); // not absolute: ignored
    setenv("HOME", std::getenv("HOME") ? std::getenv("HOME") : "/home/u", 1);
    EXPECT_EQ(DataDirectory(), std::string(std::getenv("HOME")) + "/.local/share/ktvtune");
    if (savedData)
        setenv("XDG_DATA_HOME", keepData.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}
#endif

} // namespace
} // namespace ktv
