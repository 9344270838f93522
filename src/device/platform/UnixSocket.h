#pragma once
// The Unix-socket pieces that the virtual box and the platform layer share.

#include <string>

#include <sys/un.h>

namespace ktv::platform {

// False when the path does not fit in a socket address.
bool FillAddress(sockaddr_un& addr, const std::string& path);
// Whether a box answers at path. A socket left by a killed box refuses the
// connection.
bool SomeoneListens(const std::string& path);

} // namespace ktv::platform
