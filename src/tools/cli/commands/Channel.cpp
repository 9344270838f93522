#include "Channel.h"

#include "interop/FilterText.h"

namespace ktv::cli {

bool FileAndChannel(Context& cx, const Arguments& a, const char* noFile, std::optional<EqChannel>& channel,
                    int& status)
{
    std::string why;
    if (a.Free.size() > 1)
        why = "unexpected argument '" + a.Free[1] + "'";
    else if (a.Given("--channel") && !(channel = ChannelFromName(a.Value("--channel"))))
        why = "unknown channel '" + a.Value("--channel") + "'";
    else if (a.Free.empty() || !channel)
        why = a.Free.empty() ? noFile : "--channel NAME is needed";
    if (why.empty())
        return true;
    status = Refuse(cx, a, why);
    return false;
}

} // namespace ktv::cli
