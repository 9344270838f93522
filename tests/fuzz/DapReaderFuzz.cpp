// The .dap reader on arbitrary bytes: a refused input leaves the image
// byte-identical, and only a well-formed preset is accepted.

#include "dsp/StepTables.h"
#include "params/Gloable.h"
#include "presets/DapFile.h"

#include <cstdlib>

using namespace ktv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    DspParams = {};
    LoadDefaults();
    const DapBytes before = EncodeDap();
    if (!ApplyDap(data, size)) {
        if (EncodeDap() != before)
            std::abort();
        return 0;
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < 463; ++i)
        sum += data[i];
    if (size < DapFileSize || data[0] != 'S' || data[464] != 'E' || data[463] != std::uint8_t(sum))
        std::abort();
    return 0;
}
