// The box's --state loader: a file it accepts saves back to the same bytes,
// one it refuses leaves the box as it was.

#include "sim/VirtualBox.h"

#include <cstdlib>
#include <vector>

using namespace ktv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    VirtualBox box;
    const std::vector<std::uint8_t> fresh = box.SaveState();
    const std::vector<std::uint8_t> bytes(data, data + size);
    if (box.LoadState(bytes)) {
        if (box.SaveState() != bytes)
            std::abort();
    } else if (box.SaveState() != fresh) {
        std::abort();
    }
    return 0;
}
