// read: the whole state of the box into a preset file.

#include "../Command.h"

#include "params/Commands.h"

namespace ktv::cli {
namespace {

int Run(Context& cx, const Arguments& a)
{
    if (!a.Free.empty())
        return Refuse(cx, a, "unexpected argument '" + a.Free[0] + "'");
    const std::string& out = a.Value("--output");
    if (out.empty())
        return Refuse(cx, a, "read needs -o FILE.dap");
    LoadDefaults();
    return WithBox(cx, [&] {
        if (!ReadAllFromDevice()) {
            Ui().ShowMessage("Read dsp fault!");
            return ExitFailed;
        }
        Ui().ShowMessage("Read dsp ok!");
        if (!SaveImage(cx, out))
            return ExitUsage;
        return ExitOk;
    });
}

constexpr Option Options[] = {{"-o", "--output", "FILE.dap", Synopsis | Brief}};
constexpr const char* Summaries[] = {"read the whole state of the box into FILE.dap"};

} // namespace

extern const Command ReadCommand{
    "read", Options, Summaries, false,
    "Reads the whole state of the box (nine exchanges) into a default image\n"
    "and writes it as a preset file.\n",
    Run};

} // namespace ktv::cli
