#include "box/BoxExchange.h"

#include "common/ToolText.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace ktv::tools {

std::string LogTime()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t t = system_clock::to_time_t(now);
    const int ms = int(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
    return text;
}

std::vector<std::uint8_t> Exchange(VirtualBox& box, const std::uint8_t* request, std::size_t size,
                                   const std::function<void(const std::string&)>& log,
                                   const std::function<void()>& afterRequest)
{
    std::vector<std::uint8_t> reply = box.Handle(request, size);
    if (log)
        log(LogTime() + " #" + std::to_string(box.RequestCount) + " " +
            DescribeRequest(request, std::min(size, ReportSize)) + " | " + VirtualBox::Describe(box.Log.back()));
    // The log is written; the box itself need not keep it.
    box.Log.clear();
    if (afterRequest)
        afterRequest();
    return reply;
}

bool QueueReply(std::deque<std::vector<std::uint8_t>>& pending, std::vector<std::uint8_t> reply,
                const std::function<void(const std::string&)>& log)
{
    if (pending.size() >= MaxPendingReplies) {
        if (log)
            log(LogTime() + " " + NotReadingText);
        return false;
    }
    pending.push_back(std::move(reply));
    return true;
}

} // namespace ktv::tools
