#pragma once
// The venue's topics: ktv/<site>/<room>/... The site level lets several
// venues (or the floors of one) share a broker, or be bridged to a central one.

#include <string>

namespace ktv::venue {

// The room's retained state (online, box, tuner, last change); the agent's
// last will overwrites it with "offline".
inline std::string StateTopic(const std::string& site, const std::string& room)
{
    return "ktv/" + site + "/" + room + "/state";
}
// Every room's state, for a list.
inline std::string AllStatesTopic(const std::string& site) { return "ktv/" + site + "/+/state"; }
// Requests to a room's agent. The broker lets a user publish only under its
// own role and name, so the agent learns both from the topic.
inline std::string RequestTopic(const std::string& site, const std::string& room, const std::string& role,
                                const std::string& user)
{
    return "ktv/" + site + "/" + room + "/req/" + role + "/" + user;
}
inline std::string RequestFilter(const std::string& site, const std::string& room)
{
    return "ktv/" + site + "/" + room + "/req/#";
}
// Answers, to the asking user's own client.
inline std::string ReplyTopic(const std::string& site, const std::string& room, const std::string& user,
                              const std::string& client)
{
    return "ktv/" + site + "/" + room + "/reply/" + user + "/" + client;
}
inline std::string ReplyFilter(const std::string& site, const std::string& user, const std::string& client)
{
    return "ktv/" + site + "/+/reply/" + user + "/" + client;
}
// Every change to the room's box, as it happens.
inline std::string AuditTopic(const std::string& site, const std::string& room)
{
    return "ktv/" + site + "/" + room + "/audit";
}

// A client's own topic: a message it sends there comes back after every
// retained message of its earlier subscriptions.
inline std::string SyncTopic(const std::string& user, const std::string& client)
{
    return "ktv-sync/" + user + "/" + client;
}

} // namespace ktv::venue
