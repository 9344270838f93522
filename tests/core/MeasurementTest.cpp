#include "interop/FilterText.h"
#include "interop/Measurement.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif
#include <unistd.h>

namespace ktv {
namespace {

struct Accepted {
    const char* name;
    std::string text;
    std::vector<double> hz, db, phase;
};

std::string Utf16LeWithBom(std::string_view ascii)
{
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

TEST(Measurement, ReadsTheShapesToolsWrite)
{
    const std::string rewHeader = "* Measurement data measured by REW V5.20.13\n"
                                  "* Source: USB Audio CODEC , Line 1, volume: 0.500\n"
                                  "* Format: 48kHz, 24-bit\n"
                                  "* Dated: 10-Dec-2026 10:14:02\n"
                                  "* REW Settings:\n"
                                  "*  C-weighting compensation: Off\n"
                                  "*  Target level: 75.0 dB\n"
                                  "* Note:\n"
                                  "* Measurement: Room left\n"
                                  "* Smoothing: 1/48 octave\n"
                                  "* Frequency Step: 1/48 octave\n"
                                  "* Start Frequency: 20.000 Hz\n"
                                  "*\n"
                                  "* Freq(Hz) SPL(dB) Phase(degrees)\n";
    const std::vector<Accepted> cases = {
        {"REW text export", rewHeader + "20.000 71.520 -143.25\n20.292 71.604 -141.9\n1000.000 75.000 12.5\n",
         {20.0, 20.292, 1000.0}, {71.52, 71.604, 75.0}, {-143.25, -141.9, 12.5}},
        {"REW on a decimal-comma locale", rewHeader + "20,000 71,520 -143,250\n20,292 71,604 -141,900\n",
         {20.0, 20.292}, {71.52, 71.604}, {-143.25, -141.9}},
        {".frd with # comments, tabs and CRLF",
         "# Speaker: woofer\r\n# freq\tspl\tphase\r\n10\t80.5\t-170\r\n20.5\t82.25\t-150.5\r\n40\t85\t-120\r\n",
         {10, 20.5, 40}, {80.5, 82.25, 85}, {-170, -150.5, -120}},
        {"CSV with a header and no phase", "frequency,raw\n20.00,-1.25\n21.5,-1.0\n25,0.5\n",
         {20, 21.5, 25}, {-1.25, -1.0, 0.5}, {}},
        {"CSV with comma and space", "Frequency, SPL, Phase\n20.0, 70.0, 5.0\n40.0, 71.0, 6.0\n",
         {20, 40}, {70, 71}, {5, 6}},
        {"semicolon CSV with decimal commas", "Frequenz;Pegel\n20;70,5\n31,5;71,25\n",
         {20, 31.5}, {70.5, 71.25}, {}},
        {"UTF-8 BOM, exponents and a sign", "\xEF\xBB\xBF" "2.0E+01 +7.0e1\n4.0E+01 -3\n",
         {20, 40}, {70, -3}, {}},
        {"UTF-16 with BOM", Utf16LeWithBom("* REW\r\n100 60 1\r\n200 61 2\r\n"), {100, 200}, {60, 61}, {1, 2}},
        {"phase only on some lines is dropped", "100 60 1\n200 61\n300 62 3\n", {100, 200, 300}, {60, 61, 62}, {}},
        {"text after the numbers", "100 60 ; comment\n200 61\n", {100, 200}, {60, 61}, {}},
    };
    for (const Accepted& c : cases) {
        SCOPED_TRACE(c.name);
        Measurement m;
        std::string why = "untouched";
        ASSERT_TRUE(ParseMeasurementText(c.text, m, &why)) << why;
        EXPECT_EQ(why, "untouched");
        ASSERT_EQ(m.Hz.size(), c.hz.size());
        ASSERT_EQ(m.Db.size(), c.db.size());
        ASSERT_EQ(m.Phase.size(), c.phase.size());
        for (std::size_t i = 0; i < c.hz.size(); ++i) {
            EXPECT_DOUBLE_EQ(m.Hz[i], c.hz[i]);
            EXPECT_DOUBLE_EQ(m.Db[i], c.db[i]);
            if (!c.phase.empty()) {
                EXPECT_DOUBLE_EQ(m.Phase[i], c.phase[i]);
            }
        }
    }
}

TEST(Measurement, RefusesWithAReasonAndLeavesTheResultAlone)
{
    struct Refused {
        const char* name;
        std::string text;
        std::string reason; // a part of the reason
    };
    const std::vector<Refused> cases = {
        {"falling frequencies", "* REW\n100 60\n200 61\n150 62\n", "Line 4: the frequency 150 Hz does not rise above 200 Hz"},
        {"a repeated frequency", "100 60\n100 61\n", "Line 2: the frequency 100 Hz does not rise"},
        {"a line without a level", "100 60\n200\n", "Line 2: a frequency and a level are needed"},
        {"a level that is not a number", "100 60\n200 abc\n", "Line 2: a frequency and a level are needed"},
        {"a zero frequency", "0 60\n100 61\n", "Line 1: the frequency 0 Hz is not above 0"},
        {"only a header", "* REW\n* Freq(Hz) SPL(dB)\n", "no frequency response"},
        {"a single point", "100 60\n", "no frequency response"},
        {"empty", "", "no frequency response"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.name);
        Measurement m;
        m.Hz = {1, 2};
        m.Db = {3, 4};
        std::string why;
        EXPECT_FALSE(ParseMeasurementText(c.text, m, &why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(m.Hz, (std::vector<double>{1, 2}));
        EXPECT_EQ(m.Db, (std::vector<double>{3, 4}));
        EXPECT_FALSE(ParseMeasurementText(c.text, m)); // without a reason wanted
    }
}

TEST(Measurement, ReadsAFileAndRefusesAMissingOne)
{
    auto path = std::filesystem::temp_directory_path() / ("ktv-measurement-" + std::to_string(::getpid()) + ".txt");
    {
        std::ofstream f(path, std::ios::binary);
        f << "* REW\r\n20,000 70,000\r\n40,000 71,500\r\n";
    }
    Measurement m;
    std::string why;
    ASSERT_TRUE(ReadMeasurementFile(path.string(), m, &why)) << why;
    EXPECT_EQ(m.Hz, (std::vector<double>{20, 40}));
    EXPECT_EQ(m.Db, (std::vector<double>{70, 71.5}));
    std::filesystem::remove(path);

    EXPECT_FALSE(ReadMeasurementFile(path.string(), m, &why));
    EXPECT_NE(why.find("Cannot open"), std::string::npos) << why;
    EXPECT_FALSE(ReadMeasurementFile(std::filesystem::temp_directory_path().string(), m, &why));
    // A name that is no UTF-8 is a file that cannot be opened, not an end
    // of the program (Windows converts names to UTF-16).
    why.clear();
    EXPECT_FALSE(ReadMeasurementFile("\xff\xfe-no-name.txt", m, &why));
    EXPECT_NE(why.find("Cannot open"), std::string::npos) << why;
}

// What is not a file is refused at once with a reason, whichever reader
// meets it: a FIFO or a pipe would wait for a writer forever, a device can
// be read without end or act when opened.
TEST(Measurement, ReadersRefuseWhatIsNotAFileWithoutWaitingOnIt)
{
    using Reader = std::function<bool(const std::string&, std::string*)>;
    const std::pair<const char*, Reader> readers[] = {
        {"measurement", [](const std::string& path, std::string* why) {
             Measurement m;
             return ReadMeasurementFile(path, m, why);
         }},
        {"filter file", [](const std::string& path, std::string* why) {
             FilterFile f;
             return ReadFilterFile(path, f, why);
         }},
    };
    const std::string folder = std::filesystem::temp_directory_path().string();
    struct Case {
        std::string path, reason;
    };
    std::vector<Case> cases = {{folder, "it is a directory"}};
#if defined(_WIN32)
    // A pipe the test serves itself: opening it would connect, reading would wait.
    const std::wstring pipeName = L"\\\\.\\pipe\\ktv-reader-test-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 4, 0, 0, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    for (const char* device : {"CON", "NUL", "COM1", "nul.txt", "C:\\CONIN$"})
        cases.push_back({device, "it is not a regular file"});
    cases.push_back({"\\\\.\\pipe\\ktv-reader-test-" + std::to_string(GetCurrentProcessId()),
                     "it is not a regular file"});
#else
    const std::string fifo = folder + "/ktv-reader-fifo-" + std::to_string(::getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& device : {fifo, std::string("/dev/zero"), std::string("/dev/null")})
        cases.push_back({device, "it is not a regular file"});
#endif
    for (const auto& [kind, read] : readers) {
        for (const Case& c : cases) {
            auto answer = std::async(std::launch::async, [&, read = read] {
                std::string why;
                const bool ok = read(c.path, &why);
                return std::make_pair(ok, why);
            });
            if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
                ADD_FAILURE() << kind << " reader waited on " << c.path;
#if defined(_WIN32)
                DisconnectNamedPipe(pipe); // let it go
#else
                ::close(::open(c.path.c_str(), O_WRONLY | O_NONBLOCK)); // let it go
#endif
            }
            const auto [ok, why] = answer.get();
            EXPECT_FALSE(ok) << kind << " " << c.path;
            EXPECT_EQ(why, "Cannot open " + c.path + ": " + c.reason + ".") << kind;
        }
    }
#if defined(_WIN32)
    CloseHandle(pipe);
#else
    std::filesystem::remove(fifo);
#endif
}

} // namespace
} // namespace ktv
