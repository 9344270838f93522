#pragma once
// A venue folder: its certificate authority, the broker's certificate and
// configuration (TLS only, no anonymous access, a password file, an ACL)
// and one .venue file per user.
//
//   DIR/venue.json            site, port, hosts and the users with their roles
//   DIR/ca/ca.pem, ca.key     the venue's certificate authority
//   DIR/broker/               mosquitto.conf, broker.pem/.key, passwords, acl
//   DIR/users/NAME.venue      what each person or agent needs

#include <string>
#include <vector>

namespace ktv::venue {

inline constexpr int DefaultPort = 8883;
inline const char* const Roles[] = {"technician", "staff", "agent"};

struct InitOptions {
    std::vector<std::string> Hosts; // names and addresses in the broker's certificate
    int Port = DefaultPort;
    std::string Bind;               // the address the broker listens on (empty: every address)
    std::string Site = "main";
    std::string FirstUser = "technician";
};

struct VenueUser {
    std::string Name, Role, Room;
};

// Creates the folder; `next` says what to do next. False with `why`.
bool InitVenue(const std::string& dir, const InitOptions& options, std::string& next, std::string& why);
// Adds a user (a new password) and writes DIR/users/NAME.venue, whose path
// comes back in `file`; a running broker reloads its users.
bool AddUser(const std::string& dir, const VenueUser& user, std::string& file, std::string& why);
bool RemoveUser(const std::string& dir, const std::string& name, std::string& why);
std::vector<VenueUser> Users(const std::string& dir);
// The site named in DIR/venue.json ("" when it is no venue folder).
std::string VenueSite(const std::string& dir);

std::string BrokerConfig(const std::string& dir);
// The broker's process id from its pid file, when it runs; 0 otherwise.
int BrokerPid(const std::string& dir);

// The ACL for these users, as the broker reads it.
std::string AclText(const std::string& site, const std::vector<VenueUser>& users);

} // namespace ktv::venue
