// ktvtune-cli's argument handling: the input is the argument list, split at
// NUL bytes. It runs in an empty runtime directory (no virtual box) with its
// own working directory, so relative file names stay there. The commands
// that drive the sound card are left out: a fuzzer must not play sweeps, and
// the sound libraries' plugins are not ours to fuzz.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

// The program's main, renamed when it is built into this target.
int KtvCliMain(int argc, char** argv);

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static char dir[] = "/tmp/ktv-cli-fuzz-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        std::abort();
    setenv("XDG_RUNTIME_DIR", dir, 1);
    setenv("XDG_DATA_HOME", dir, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args{"ktvtune-cli"};
    std::string arg;
    for (std::size_t i = 0; i < size && args.size() < 12; ++i) {
        if (data[i] == 0) {
            args.push_back(arg);
            arg.clear();
        } else {
            arg += char(data[i]);
        }
    }
    if (args.size() < 12)
        args.push_back(arg);
    for (std::string a : args) {
        std::transform(a.begin(), a.end(), a.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (a == "measure" || a == "devices")
            return 0;
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    KtvCliMain(int(args.size()), argv.data());
    return 0;
}
