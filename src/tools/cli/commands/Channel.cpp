#include "Channel.h"

#include "interop/FilterText.h"

namespace ktv::cli {

int FileAndChannel(Context& cx, const Arguments& a, const char* noFile, EqChannel& into)
{
    std::optional<EqChannel> channel;
    std::string why;
    if (a.Free.size() > 1)
        why = "unexpected argument '" + a.Free[1] + "'";
    else if (a.Given("--channel") && !(channel = ChannelFromName(a.Value("--channel"))))
        why = "unknown channel '" + a.Value("--channel") + "'";
    else if (a.Free.empty() || !channel)
        why = a.Free.empty() ? noFile : "--channel NAME is needed";
    if (!why.empty())
        return Refuse(cx, a, why);
    into = *channel;
    return ExitOk;
}

} // namespace ktv::cli
