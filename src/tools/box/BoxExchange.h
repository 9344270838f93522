#pragma once
// What the box's server does with each request, whatever carries it: the
// box answers, the exchange is logged, and the limits that keep one client
// from holding the box for the others. BoxServer.cpp (sockets) and
// BoxServerWindows.cpp (named pipes) each carry the messages.

#include "sim/VirtualBox.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace ktv::tools {

// Replies a client may leave unread before it is dropped: a client that
// sends and never reads must not hold the box for the others.
inline constexpr std::size_t MaxPendingReplies = 16;
// Requests taken from one client per round, so a busy one cannot starve the rest.
inline constexpr int RequestsPerRound = 8;
// What a client that never reads its replies is told in the log.
inline constexpr const char* NotReadingText = "closing a client that does not read its replies";

// The local time of day as the log shows it, hh:mm:ss.mmm.
std::string LogTime();

// Hands one received message (size bytes; more than a report means a longer
// message arrived) to the box, logs the exchange before the reply goes (a
// client that has its reply may end at once, and whoever reads the log then
// must find the line) and calls afterRequest. Returns the reply, empty when
// the box stays silent.
std::vector<std::uint8_t> Exchange(VirtualBox& box, const std::uint8_t* request, std::size_t size,
                                   const std::function<void(const std::string&)>& log,
                                   const std::function<void()>& afterRequest);

// Puts a reply behind those the client has not taken yet. False, with a log
// line, when it already leaves MaxPendingReplies unread: close that client.
bool QueueReply(std::deque<std::vector<std::uint8_t>>& pending, std::vector<std::uint8_t> reply,
                const std::function<void(const std::string&)>& log);

} // namespace ktv::tools
