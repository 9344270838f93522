// The virtual box's request handling on a run of datagrams of any size: no
// refused request changes the box, and the log can always be described.

#include "device/HidPlatform.h"
#include "fuzz/FuzzSupport.h"
#include "sim/VirtualBox.h"

#include <cstdlib>
#include <vector>

using namespace ktv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Input in(data, size);
    VirtualBox box;
    box.Faults.Kind = VirtualBox::Fault(in.Byte() % 9);
    box.Faults.FromRequest = 1 + in.Byte() % 4;
    if (in.Byte() & 1)
        box.Faults.OnlyCommand = in.Byte();
    while (!in.Empty()) {
        // Mostly whole reports; sometimes shorter or longer datagrams.
        const std::uint8_t sizeCode = in.Byte();
        const std::size_t length = sizeCode < 200 ? ReportSize : sizeCode - 200 + 40; // 40..95
        std::vector<std::uint8_t> request(length, 0);
        in.Take(request.data(), length);
        const VirtualBox::Settings current = box.Current;
        const auto slots = box.Slots;
        const std::vector<std::uint8_t> reply = box.Handle(request.data(), request.size());
        const VirtualBox::Exchange& ex = box.Log.back();
        if (!ex.Valid && (!reply.empty() || box.Current != current || box.Slots != slots))
            std::abort();
        if (reply.size() > ReportSize)
            std::abort();
        (void)VirtualBox::Describe(ex);
        box.Log.clear();
    }
    return 0;
}
