#include "common/Console.h"

#ifdef _WIN32
#include "base/WinText.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#endif

namespace ktv::tools {

#ifdef _WIN32
namespace {

UINT consoleOutputCp = 0;

void RestoreConsole()
{
    if (consoleOutputCp)
        SetConsoleOutputCP(consoleOutputCp);
}

} // namespace

void PrepareConsole(int& argc, char**& argv)
{
    // Kept for the whole run: argv points into them.
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        texts.clear();
        for (int i = 0; i < count; ++i)
            texts.push_back(win::Utf8(wide[i]));
        LocalFree(wide);
        pointers.clear();
        for (std::string& t : texts)
            pointers.push_back(t.data());
        pointers.push_back(nullptr);
        argc = count;
        argv = pointers.data();
    }
    // Only a console has a code page to set; a pipe or a file takes the bytes.
    if (!consoleOutputCp && GetConsoleWindow()) {
        consoleOutputCp = GetConsoleOutputCP();
        if (consoleOutputCp != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
            std::atexit(RestoreConsole);
        else
            consoleOutputCp = 0;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

void FlushEachLine(std::FILE* stream)
{
    // The Windows C library takes line buffering for full buffering; unbuffered,
    // each printf still goes out in one write.
    std::setvbuf(stream, nullptr, _IONBF, 0);
}

#else

void PrepareConsole(int&, char**&) {}

void FlushEachLine(std::FILE* stream) { std::setvbuf(stream, nullptr, _IOLBF, 0); }

#endif

} // namespace ktv::tools
