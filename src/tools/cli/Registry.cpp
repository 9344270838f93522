#include "Command.h"

namespace ktv::cli {

#define KTV_CLI_COMMAND(name) extern const Command name##Command;
#include "Commands.def"
#undef KTV_CLI_COMMAND

std::span<const Command* const> Commands()
{
    static constexpr const Command* all[] = {
#define KTV_CLI_COMMAND(name) &name##Command,
#include "Commands.def"
#undef KTV_CLI_COMMAND
    };
    return all;
}

} // namespace ktv::cli
