#pragma once
// The Unix-socket pieces that the virtual box and the platform layer share.

#include <string>

#include <sys/un.h>

namespace ktv::platform {

// False when the path does not fit in a socket address.
bool FillAddress(sockaddr_un& addr, const std::string& path);
// The longest a connection to a virtual box may take: a box that is paused
// or stuck with its listen queue full is treated like a silent box.
inline constexpr int ConnectTimeoutMs = 500;

// A SOCK_SEQPACKET socket connected to path within timeoutMs, or -1 with
// errno set (EAGAIN when the box did not take the connection in time). Sends
// on it give up after the same time, so a box that stops reading cannot
// hold the caller either.
int ConnectWithin(const std::string& path, int timeoutMs);
// Whether a box takes a connection at path within ConnectTimeoutMs. A socket
// left by a killed box refuses the connection.
bool SomeoneListens(const std::string& path);

} // namespace ktv::platform
