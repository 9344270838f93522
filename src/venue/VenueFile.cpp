#include "venue/VenueFile.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace ktv::venue {

using Json = nlohmann::json;

std::optional<VenueAccess> ReadVenueFile(const std::string& path, std::string* why)
{
    auto fail = [&](const std::string& text) -> std::optional<VenueAccess> {
        if (why)
            *why = path + ": " + text;
        return std::nullopt;
    };
    std::ifstream in(path);
    if (!in)
        return fail(std::strerror(errno));
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Json j = Json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return fail("not a venue file");
    VenueAccess a;
    try {
        a.Host = j.at("host").get<std::string>();
        a.Port = j.at("port").get<int>();
        a.Site = j.value("site", std::string("main"));
        a.User = j.at("user").get<std::string>();
        a.Password = j.at("password").get<std::string>();
        a.Role = j.value("role", std::string());
        a.Room = j.value("room", std::string());
        a.CaPem = j.at("ca").get<std::string>();
    } catch (const Json::exception&) {
        return fail("not a venue file (host, port, user, password and ca are needed)");
    }
    if (a.Port < 1 || a.Port > 65535 || !IsPlainName(a.Site))
        return fail("not a venue file (bad port or site)");
    return a;
}

bool WriteVenueFile(const std::string& path, const VenueAccess& a, std::string* why)
{
    Json j = {{"host", a.Host}, {"port", a.Port}, {"site", a.Site}, {"user", a.User},
              {"password", a.Password}, {"role", a.Role}, {"room", a.Room}, {"ca", a.CaPem}};
    const std::string text = j.dump(2) + "\n";
    const std::string temp = path + ".new";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && fchmod(fd, 0600) == 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0)
        ok = (close(fd) == 0) && ok;
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        if (why)
            *why = path + ": " + std::strerror(errno);
        unlink(temp.c_str());
    }
    return ok;
}

bool IsPlainName(const std::string& name)
{
    if (name.empty() || name.size() > 64 || name[0] == '.')
        return false;
    for (const char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.'))
            return false;
    return true;
}

bool IsRoomPattern(const std::string& pattern)
{
    std::string plain;
    for (const char c : pattern)
        plain += (c == '*' || c == '?') ? 'x' : c;
    return IsPlainName(plain);
}

bool MatchesPattern(const std::string& pattern, const std::string& name)
{
    // Iterative glob with one star back-track point.
    std::size_t p = 0, n = 0, star = std::string::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace ktv::venue
