#include "core/TestSupport.h"
#include "params/Gloable.h"
#include "presets/DapFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace ktv;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

class DapFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DspParams = {};
        LoadDefaults();
    }

    std::string PathOf(const std::string& name) const { return (dir / name).string(); }

    static Bytes Load(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static void Store(const std::string& path, const Bytes& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    // A non-default image whose every carried field has a telling value.
    static void FillImage()
    {
        DspParamsImage& p = DspParams;
        p.MicVol = 40;
        p.MusicVol = 50;
        p.EffectVol = 60;
        p.Mute = 0x21;
        for (int i = 0; i < 6; ++i)
            p.Delay[std::size_t(i)] = std::uint16_t(300 * i + 7);
        p.NoiseGate = {-72, -1000};
        p.Pitch = -4;
        p.Fbx = 3;
        p.Input = 5;
        p.ReservedWord = 0xBEEF;
        p.MaxVol = {90, 80, 70, 60, 50, 40, 30};
        p.ReservedBytes = {1, 2, 3, 4, 5, 6};
        for (std::size_t d = 0; d < 5; ++d)
            p.Dyn[d] = {std::int16_t(-300 + int(d)), std::uint16_t(1000 + d), std::uint8_t(25 + d), std::uint8_t(4 + d)};
        for (std::size_t g = 0; g < 4; ++g)
            p.OutMix[g] = {std::uint8_t(0x80 | g), std::uint8_t(10 + g), std::uint8_t(0x80 | (20 + g)), std::uint8_t(30 + g)};
        p.Reverb = {0x1234, 0x5678, 11, 12, 13, 14, 15, 16, 17};
        p.Echo = {0x1111, 0x2222, 31, 32, 0x0133, 0x4444, 35, 36, 37, 38, 39, 40};
        for (std::size_t k = 0; k < 39; ++k) {
            PeqBand& b = p.Band[k];
            b.Flags = std::uint8_t(k & 1 ? 0x40 | (k % 7) : 0xC0 | (k % 5));
            b.Fc = 19.7f + float(k) * 517.3f;
            b.Q = 0.4f + float(k) * 3.1f;
            b.Gain = -24.0f + float(k) * 0.9f;
        }
    }

    test::TempDir temp;
    const fs::path dir = temp.Path();
};

TEST_F(DapFileTest, LayoutOfAWrittenFile)
{
    FillImage();
    DspParams.Band[0] = {};
    DspParams.Band[0].Flags = 0xC2;
    DspParams.Band[0].Fc = 1000.0f;
    DspParams.Band[0].Q = 0.7f;
    DspParams.Band[0].Gain = -3.3f;
    const std::string path = PathOf("a.dap");
    ASSERT_TRUE(WriteDapFile(path));
    const Bytes f = Load(path);
    ASSERT_EQ(f.size(), 465u);

    EXPECT_EQ(f[0], 0x53);
    EXPECT_EQ(f[464], 0x45);
    EXPECT_EQ((Bytes{f[1], f[2], f[3], f[4]}), (Bytes{40, 50, 60, 0x21}));
    EXPECT_EQ((Bytes{f[5], f[6], f[15], f[16]}), (Bytes{7, 0, 0xE3, 0x05})); // Delay[0] = 7, Delay[5] = 1507
    EXPECT_EQ(f[17], 0xFC);                                                 // Pitch -4
    EXPECT_EQ((Bytes{f[18], f[19], f[20], f[21]}), (Bytes{3, 5, 0xEF, 0xBE}));
    EXPECT_EQ((Bytes(f.begin() + 22, f.begin() + 35)), (Bytes{90, 80, 70, 60, 50, 40, 30, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ((Bytes(f.begin() + 35, f.begin() + 39)), (Bytes{0xB8, 0xFF, 0x18, 0xFC})); // -72, -1000
    EXPECT_EQ((Bytes(f.begin() + 39, f.begin() + 43)), (Bytes{0x80, 10, 0x94, 30}));
    EXPECT_EQ((Bytes(f.begin() + 55, f.begin() + 61)), (Bytes{0xD4, 0xFE, 0xE8, 0x03, 25, 4})); // Dyn[0]
    // Reverb in wire order: PreDelay before EarlyLate.
    EXPECT_EQ((Bytes(f.begin() + 85, f.begin() + 96)), (Bytes{0x34, 0x12, 0x78, 0x56, 13, 11, 12, 14, 15, 16, 17}));
    EXPECT_EQ((Bytes(f.begin() + 96, f.begin() + 112)),
              (Bytes{0x11, 0x11, 0x22, 0x22, 31, 32, 0x33, 0x01, 0x44, 0x44, 35, 36, 37, 38, 39, 40}));
    // Band 0: 1000 Hz, Q 0.7 -> 7, gain -3.3 -> -33.
    EXPECT_EQ((Bytes(f.begin() + 112, f.begin() + 121)), (Bytes{0xC2, 0x10, 0x27, 0, 0, 7, 0, 0xDF, 0xFF}));
    unsigned sum = 0;
    for (int i = 1; i <= 462; ++i)
        sum += f[std::size_t(i)];
    EXPECT_EQ(f[463], sum % 256);
}

TEST_F(DapFileTest, RoundTripTakesOverOnlyTheCarriedFields)
{
    FillImage();
    const DspParamsImage written = DspParams;
    const std::string path = PathOf("round.dap");
    ASSERT_TRUE(WriteDapFile(path));

    // Fields a preset does not restore keep the image's current values.
    DspParams = {};
    LoadDefaults();
    DspParams.MicVol = 10;
    DspParams.MusicVol = 20;
    DspParams.EffectVol = 30;
    DspParams.Mute = 0x02;
    DspParams.Pitch = 2;
    DspParams.Input = 1;
    DspParams.ReservedWord = 7;
    DspParams.ReservedBytes = {9, 9, 9, 9, 9, 9};
    for (auto& b : DspParams.Band)
        b.Coef = {0.5f, 0, 0, 0, 0};
    DapReadError error = DapReadError::BadChecksum;
    ASSERT_TRUE(ReadDapFile(path, &error));
    EXPECT_EQ(error, DapReadError::None);

    const DspParamsImage& p = DspParams;
    EXPECT_EQ(p.MicVol, 10);
    EXPECT_EQ(p.MusicVol, 20);
    EXPECT_EQ(p.EffectVol, 30);
    EXPECT_EQ(p.Mute, 0x02);
    EXPECT_EQ(p.Pitch, 2);
    EXPECT_EQ(p.Input, 1);
    EXPECT_EQ(p.ReservedWord, 7);
    EXPECT_EQ(p.ReservedBytes[0], 9);

    EXPECT_EQ(p.Delay, written.Delay);
    EXPECT_EQ(p.Fbx, written.Fbx);
    EXPECT_EQ(p.MaxVol, written.MaxVol);
    EXPECT_EQ(p.NoiseGate, written.NoiseGate);
    for (std::size_t d = 0; d < 5; ++d) {
        EXPECT_EQ(p.Dyn[d].Threshold, written.Dyn[d].Threshold);
        EXPECT_EQ(p.Dyn[d].Attack, written.Dyn[d].Attack);
        EXPECT_EQ(p.Dyn[d].Release, written.Dyn[d].Release);
        EXPECT_EQ(p.Dyn[d].Ratio, written.Dyn[d].Ratio);
    }
    for (std::size_t g = 0; g < 4; ++g) {
        EXPECT_EQ(p.OutMix[g].MicVol, written.OutMix[g].MicVol);
        EXPECT_EQ(p.OutMix[g].ReverbVol, written.OutMix[g].ReverbVol);
    }
    EXPECT_EQ(p.Reverb.PreDelay, 13);
    EXPECT_EQ(p.Reverb.EarlyLate, 11);
    EXPECT_EQ(p.Echo.Delay, 0x0133);
    EXPECT_EQ(p.Echo.Byte5, 40);
    for (std::size_t k = 0; k < 39; ++k) {
        const PeqBand& w = written.Band[k];
        EXPECT_EQ(p.Band[k].Flags, w.Flags);
        EXPECT_EQ(p.Band[k].Fc, float(double(Tenths(w.Fc)) / 10.0)) << k;
        EXPECT_EQ(p.Band[k].Q, float(double(Tenths(w.Q)) / 10.0)) << k;
        EXPECT_EQ(p.Band[k].Gain, float(double(Tenths(w.Gain)) / 10.0)) << k;
        EXPECT_EQ(p.Band[k].Coef[0], 0.5f); // coefficients are not in the file
    }
}

TEST_F(DapFileTest, RejectedFilesLeaveTheImageUntouched)
{
    FillImage();
    const std::string good = PathOf("good.dap");
    ASSERT_TRUE(WriteDapFile(good));
    const Bytes valid = Load(good);

    struct Case {
        const char* name;
        Bytes bytes;
        DapReadError error;
    };
    auto with = [&](auto change) {
        Bytes b = valid;
        change(b);
        return b;
    };
    const Case cases[] = {
        {"464 bytes", Bytes(valid.begin(), valid.end() - 1), DapReadError::TooShort},
        {"empty", {}, DapReadError::TooShort},
        {"lower-case s", with([](Bytes& b) { b[0] = 0x73; }), DapReadError::BadStartMarker},
        {"lower-case e", with([](Bytes& b) { b[464] = 0x65; }), DapReadError::BadEndMarker},
        {"body byte changed", with([](Bytes& b) { b[1] ^= 0x01; }), DapReadError::BadChecksum},
        {"last body byte changed", with([](Bytes& b) { b[462] += 1; }), DapReadError::BadChecksum},
        {"checksum changed", with([](Bytes& b) { b[463] += 1; }), DapReadError::BadChecksum},
    };

    DspParams = {};
    LoadDefaults();
    const DapBytes before = EncodeDap();
    for (const Case& c : cases) {
        const std::string path = PathOf("bad.dap");
        Store(path, c.bytes);
        DapReadError error = DapReadError::None;
        EXPECT_FALSE(ReadDapFile(path, &error)) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
        EXPECT_EQ(EncodeDap(), before) << c.name;
    }
    DapReadError error = DapReadError::None;
    EXPECT_FALSE(ReadDapFile(PathOf("missing.dap"), &error));
    EXPECT_EQ(error, DapReadError::CannotOpen);
    EXPECT_EQ(EncodeDap(), before);
}

TEST_F(DapFileTest, BytesAfterTheFirst465AreIgnored)
{
    FillImage();
    const std::string path = PathOf("long.dap");
    ASSERT_TRUE(WriteDapFile(path));
    Bytes b = Load(path);
    b.insert(b.end(), {0xFF, 0x00, 0x53});
    Store(path, b);
    DspParams.Fbx = 0;
    EXPECT_TRUE(ReadDapFile(path));
    EXPECT_EQ(DspParams.Fbx, 3);
}

TEST_F(DapFileTest, FailedSaveLeavesTheOldFileIntact)
{
    FillImage();
    const std::string path = PathOf("keep.dap");
    ASSERT_TRUE(WriteDapFile(path));
    const Bytes old = Load(path);

    // A folder the save cannot create its temporary file in.
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    const bool canStillWrite = std::ofstream(PathOf("probe")).good(); // root ignores permissions
    DspParams.Fbx = 1;
    if (!canStillWrite) {
        EXPECT_FALSE(WriteDapFile(path));
    }
    fs::permissions(dir, fs::perms::owner_all);
    if (!canStillWrite) {
        EXPECT_EQ(Load(path), old);
    }

    // A target that cannot be replaced (a folder of that name).
    const std::string blocked = PathOf("folder.dap");
    fs::create_directories(fs::path(blocked) / "inside");
    EXPECT_FALSE(WriteDapFile(blocked));
    EXPECT_TRUE(fs::is_directory(blocked));
    // No temporary file is left behind.
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();

    EXPECT_FALSE(WriteDapFile(PathOf("no-such-folder/x.dap")));
}

#if !defined(_WIN32)
TEST_F(DapFileTest, WhatIsNotARegularFileIsRefusedWithoutBeingRead)
{
    const std::string fifo = PathOf("pipe.dap");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(PathOf("folder.dap"));
    struct Case {
        std::string path;
        DapReadError error;
    };
    const Case cases[] = {
        {PathOf("folder.dap"), DapReadError::IsDirectory},
        {fifo, DapReadError::NotRegularFile}, // nobody writes: opening it must not wait
        {"/dev/zero", DapReadError::NotRegularFile},
        {"/dev/null", DapReadError::NotRegularFile},
        {"/proc/self/mem", DapReadError::CannotRead},
    };
    const DapBytes before = EncodeDap();
    for (const Case& c : cases) {
        DapReadError error = DapReadError::None;
        EXPECT_FALSE(ReadDapFile(c.path, &error)) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
        EXPECT_EQ(EncodeDap(), before) << c.path;
    }
    EXPECT_STREQ(DapReadErrorText(DapReadError::IsDirectory), "it is a directory");
}

// Saving replaces the preset's content and nothing else about it.
TEST_F(DapFileTest, SavingKeepsWhatTheTargetIs)
{
    FillImage();
    const DapBytes image = EncodeDap();
    const Bytes expected(image.begin(), image.end());
    const Bytes old(465, 0x11);
    const bool root = geteuid() == 0;
    struct stat st{};

    struct Case {
        const char* name;
        std::function<std::string()> setUp; // returns the path to save to
        FileWriteError error;
        std::function<void(const std::string&)> check;
    };
    const std::vector<Case> cases = {
        {"permission bits kept",
         [&] {
             Store(PathOf("mode.dap"), old);
             chmod(PathOf("mode.dap").c_str(), 0640);
             return PathOf("mode.dap");
         },
         FileWriteError::None,
         [&](const std::string& p) {
             ASSERT_EQ(stat(p.c_str(), &st), 0);
             EXPECT_EQ(st.st_mode & 07777, 0640u);
         }},
        {"a symlink is written through and stays a link",
         [&] {
             fs::create_directories(PathOf("real"));
             Store(PathOf("real/target.dap"), old);
             fs::create_symlink("real/target.dap", PathOf("link.dap"));
             return PathOf("link.dap");
         },
         FileWriteError::None,
         [&](const std::string& p) {
             EXPECT_TRUE(fs::is_symlink(p));
             EXPECT_EQ(Load(PathOf("real/target.dap")), expected);
         }},
        {"a dangling symlink creates the file it names",
         [&] {
             fs::create_symlink("named.dap", PathOf("dangling.dap"));
             return PathOf("dangling.dap");
         },
         FileWriteError::None,
         [&](const std::string& p) {
             EXPECT_TRUE(fs::is_symlink(p));
             EXPECT_EQ(Load(PathOf("named.dap")), expected);
         }},
        {"hard links stay one file",
         [&] {
             Store(PathOf("first.dap"), old);
             fs::create_hard_link(PathOf("first.dap"), PathOf("second.dap"));
             return PathOf("first.dap");
         },
         FileWriteError::None,
         [&](const std::string&) {
             EXPECT_EQ(fs::hard_link_count(PathOf("first.dap")), 2u);
             EXPECT_EQ(Load(PathOf("second.dap")), expected);
         }},
        {"a name at the file-system limit",
         [&] { return PathOf(std::string(251, 'n') + ".dap"); },
         FileWriteError::None,
         [&](const std::string&) {}},
        {"a FIFO is refused and left a FIFO",
         [&] {
             mkfifo(PathOf("fifo.dap").c_str(), 0600);
             return PathOf("fifo.dap");
         },
         FileWriteError::NotRegularFile,
         [&](const std::string& p) { EXPECT_EQ(fs::symlink_status(p).type(), fs::file_type::fifo); }},
        {"a symlink to a FIFO is refused",
         [&] {
             mkfifo(PathOf("fifo2").c_str(), 0600);
             fs::create_symlink("fifo2", PathOf("tofifo.dap"));
             return PathOf("tofifo.dap");
         },
         FileWriteError::NotRegularFile,
         [&](const std::string&) { EXPECT_EQ(fs::symlink_status(PathOf("fifo2")).type(), fs::file_type::fifo); }},
        {"a directory says so",
         [&] {
             fs::create_directories(PathOf("dir.dap"));
             return PathOf("dir.dap");
         },
         FileWriteError::IsDirectory,
         [&](const std::string& p) { EXPECT_TRUE(fs::is_directory(p)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.setUp();
        FileWriteError error = FileWriteError::CannotWrite;
        EXPECT_EQ(WriteDapFile(path, &error), c.error == FileWriteError::None);
        EXPECT_EQ(error, c.error);
        if (c.error == FileWriteError::None) {
            EXPECT_EQ(Load(path), expected);
        }
        c.check(path);
    }
    // No temporary file is left behind by any of them.
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    if (root) {
        // As root, the owner of the preset stays its owner.
        const std::string p = PathOf("owned.dap");
        Store(p, old);
        ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
        ASSERT_TRUE(WriteDapFile(p));
        ASSERT_EQ(stat(p.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 65534u);
        EXPECT_EQ(st.st_gid, 65534u);
    }
}

// A preset the user may not write is refused, as opening it would be; the
// save runs as an unprivileged user since root may write anything.
TEST_F(DapFileTest, ReadOnlyPresetIsRefused)
{
    const std::string p = PathOf("locked.dap");
    Store(p, Bytes(465, 0x11));
    ASSERT_EQ(chmod(p.c_str(), 0444), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        FileWriteError error = FileWriteError::None;
        const bool saved = WriteDapFile(p, &error);
        _exit(saved ? 1 : error == FileWriteError::ReadOnly ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3)
        GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(Load(p), Bytes(465, 0x11));
    EXPECT_STREQ(FileWriteErrorText(FileWriteError::ReadOnly), "the file is read-only");
}

#else
// Device names open a console, a port or a pipe instead of a file; they are
// refused by name, before anything is opened, for reading and for saving.
TEST_F(DapFileTest, WhatIsNotARegularFileIsRefusedWithoutBeingRead)
{
    fs::create_directories(PathOf("folder.dap"));
    // A pipe with a server waiting: opening it as a client would connect.
    const HANDLE server = CreateNamedPipeW(L"\\\\.\\pipe\\ktv-test-preset", PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 512, 512, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    struct Case {
        std::string path;
        DapReadError error;
    };
    const Case cases[] = {
        {PathOf("folder.dap"), DapReadError::IsDirectory},
        {"CON", DapReadError::NotRegularFile},
        {"NUL", DapReadError::NotRegularFile},
        {"COM1", DapReadError::NotRegularFile},
        {"conin$", DapReadError::NotRegularFile},
        {PathOf("nul.dap"), DapReadError::NotRegularFile},
        {PathOf("COM1 .dap"), DapReadError::NotRegularFile},
        {"\\\\.\\pipe\\ktv-test-preset", DapReadError::NotRegularFile},
        {"//./COM1", DapReadError::NotRegularFile},
        {PathOf("missing.dap"), DapReadError::CannotOpen},
    };
    const DapBytes before = EncodeDap();
    for (const Case& c : cases) {
        DapReadError error = DapReadError::None;
        EXPECT_FALSE(ReadDapFile(c.path, &error)) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
        EXPECT_EQ(EncodeDap(), before) << c.path;
        if (c.error == DapReadError::NotRegularFile) {
            FileWriteError writeError = FileWriteError::None;
            EXPECT_FALSE(WriteDapFile(c.path, &writeError)) << c.path;
            EXPECT_EQ(writeError, FileWriteError::NotRegularFile) << c.path;
        }
    }
    CloseHandle(server);
    // Nothing was created for the device names, nor left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

// Saving replaces the content and keeps the file's attributes; a read-only
// preset is refused and left as it was; non-ASCII names work both ways.
TEST_F(DapFileTest, SavingKeepsWhatTheTargetIs)
{
    FillImage();
    const DapBytes image = EncodeDap();
    const Bytes expected(image.begin(), image.end());
    const Bytes old(465, 0x11);

    const std::string hidden = PathOf("hidden.dap");
    Store(hidden, old);
    const std::wstring hiddenWide = fs::path(hidden).wstring();
    ASSERT_TRUE(SetFileAttributesW(hiddenWide.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(WriteDapFile(hidden));
    EXPECT_EQ(Load(hidden), expected);
    EXPECT_TRUE(GetFileAttributesW(hiddenWide.c_str()) & FILE_ATTRIBUTE_HIDDEN);

    const std::string locked = PathOf("locked.dap");
    Store(locked, old);
    const std::wstring lockedWide = fs::path(locked).wstring();
    ASSERT_TRUE(SetFileAttributesW(lockedWide.c_str(), FILE_ATTRIBUTE_READONLY));
    FileWriteError error = FileWriteError::None;
    EXPECT_FALSE(WriteDapFile(locked, &error));
    EXPECT_EQ(error, FileWriteError::ReadOnly);
    EXPECT_EQ(Load(locked), old);
    SetFileAttributesW(lockedWide.c_str(), FILE_ATTRIBUTE_NORMAL);

    // Paths are UTF-8, as the command line and the window hand them over.
    const std::u8string leaf = u8"\u9884\u8bbe-\u00e4.dap";
    const std::string named = dir.string() + "\\" + std::string(leaf.begin(), leaf.end());
    ASSERT_TRUE(WriteDapFile(named));
    const fs::path wide = dir / fs::path(leaf);
    EXPECT_TRUE(fs::is_regular_file(wide));
    EXPECT_EQ(fs::file_size(wide), expected.size());
    std::ifstream in(wide, std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), expected);
    in.close();
    DapReadError readError = DapReadError::CannotOpen;
    EXPECT_TRUE(ReadDapFile(named, &readError));
    EXPECT_EQ(readError, DapReadError::None);

    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().extension(), ".dap") << entry.path(); // no temporary file left
}
#endif

} // namespace
