#pragma once
// The one file a person or an agent needs to reach the venue: the broker's
// address, the venue's certificate authority, a user name and its password.
// JSON, readable by its owner only.

#include <optional>
#include <string>

namespace ktv::venue {

struct VenueAccess {
    std::string Host;
    int Port = 8883;
    std::string Site = "main"; // the first level of every topic
    std::string User;
    std::string Password;
    std::string Role; // technician, staff or agent
    std::string Room; // an agent's room; a staff user's only room (empty: every room)
    std::string CaPem;
};

std::optional<VenueAccess> ReadVenueFile(const std::string& path, std::string* why = nullptr);
// Written with mode 0600 (it holds a password).
bool WriteVenueFile(const std::string& path, const VenueAccess& access, std::string* why = nullptr);

// Names of users, rooms and sites become topic levels and file names:
// letters, digits, '-', '_' and '.', not starting with '.'.
bool IsPlainName(const std::string& name);
// A room pattern ('VIP*', 'Room?'): a plain name with '*' and '?'.
bool IsRoomPattern(const std::string& pattern);
bool MatchesPattern(const std::string& pattern, const std::string& name);

} // namespace ktv::venue
