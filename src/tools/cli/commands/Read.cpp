// read: the whole state of the box into a preset file.

#include "../Command.h"

#include "params/Commands.h"

namespace ktv::cli {

extern const Command ReadCommand{
    .Name = "read",
    .Summaries = {"read the whole state of the box into FILE.dap"},
    .Options = {{"-o", "--output", "FILE.dap", Synopsis | Brief | Needed}},
    .MostWords = 0,
    .Description = R"(Reads the whole state of the box (nine exchanges) into a default image
and writes it as a preset file.
)",
    .Run = [](Context& cx, const Arguments& a) {
        const std::string& out = a.Value("--output");
        // Nine exchanges read for nothing when the file cannot be written.
        if (!OutputWritable(cx, out))
            return ExitUsage;
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
    },
};

} // namespace ktv::cli
