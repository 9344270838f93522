#include "venue/Setup.h"

#include "venue/Process.h"
#include "venue/VenueFile.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace ktv::venue {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::string Absolute(const std::string& dir)
{
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::absolute(dir), ec);
    return (ec ? fs::absolute(dir) : p).string();
}

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool WriteText(const fs::path& path, const std::string& text, fs::perms mode, std::string& why)
{
    const fs::path temp = path.string() + ".new";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << text;
        if (!out.flush()) {
            why = temp.string() + ": cannot write";
            return false;
        }
    }
    std::error_code ec;
    fs::permissions(temp, mode, ec);
    fs::rename(temp, path, ec);
    if (ec) {
        why = path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

// The broker, once it drops to its own user, reads its key, the passwords
// and the ACL through their group.
void GiveToBrokerGroup(const fs::path& path)
{
    if (geteuid() != 0)
        return;
    if (const group* g = getgrnam("mosquitto"))
        (void)chown(path.c_str(), uid_t(-1), g->gr_gid);
}

std::string RandomPassword()
{
    static constexpr char letters[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof letters - 2);
    std::string password;
    for (int i = 0; i < 24; ++i)
        password += letters[pick(device)];
    return password;
}

bool IsAddress(const std::string& host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

bool Run(const std::vector<std::string>& argv, std::string& why)
{
    const ProcessResult r = RunProgram(argv);
    if (r.Status == 0)
        return true;
    why = argv[0] + (r.Status == 127 ? std::string(" is not installed (scripts/deps.sh installs it)")
                                     : " failed: " + r.Output);
    return false;
}

Json LoadVenueJson(const std::string& dir)
{
    const Json j = Json::parse(ReadAll(fs::path(dir) / "venue.json"), nullptr, false);
    return j.is_object() ? j : Json();
}

std::vector<VenueUser> UsersOf(const Json& j)
{
    std::vector<VenueUser> users;
    if (j.contains("users"))
        for (const Json& u : j["users"])
            users.push_back({u.value("name", ""), u.value("role", ""), u.value("room", "")});
    return users;
}

bool SaveVenueJson(const std::string& dir, Json j, const std::vector<VenueUser>& users, std::string& why)
{
    j["users"] = Json::array();
    for (const VenueUser& u : users)
        j["users"].push_back({{"name", u.Name}, {"role", u.Role}, {"room", u.Room}});
    return WriteText(fs::path(dir) / "venue.json", j.dump(2) + "\n", fs::perms(0644), why);
}

// The ACL follows the users: written whole after every change, then the
// broker is told to reload it with its passwords.
bool WriteAcl(const std::string& dir, const std::string& site, const std::vector<VenueUser>& users, std::string& why)
{
    const fs::path acl = fs::path(dir) / "broker" / "acl";
    if (!WriteText(acl, AclText(site, users), fs::perms(0640), why))
        return false;
    GiveToBrokerGroup(acl);
    return true;
}

void ReloadBroker(const std::string& dir)
{
    if (const int pid = BrokerPid(dir))
        kill(pid, SIGHUP);
}

} // namespace

std::string AclText(const std::string& site, const std::vector<VenueUser>& users)
{
    std::string acl =
        "# Written by ktvtune-cli venue: rewritten whole at every add-user and\n"
        "# remove-user, so edits here do not last.\n"
        "#\n"
        "# Everyone may read the rooms' states and changes, and the answers meant\n"
        "# for them.\n"
        "pattern read ktv/" + site + "/+/state\n"
        "pattern read ktv/" + site + "/+/audit\n"
        "pattern read ktv/" + site + "/+/reply/%u/#\n"
        "# A client's own echo, to know it has every retained state.\n"
        "pattern readwrite ktv-sync/%u/#\n";
    for (const VenueUser& u : users) {
        acl += "\nuser " + u.Name + "\n";
        if (u.Role == "agent") {
            // An agent serves its own room and nothing else.
            const std::string room = "ktv/" + site + "/" + u.Room;
            acl += "topic read " + room + "/req/#\n";
            acl += "topic write " + room + "/state\n";
            acl += "topic write " + room + "/audit\n";
            acl += "topic write " + room + "/reply/#\n";
        } else {
            // A person asks only under its own role and name: a forged topic is dropped.
            const std::string room = u.Room.empty() ? "+" : u.Room;
            acl += "topic write ktv/" + site + "/" + room + "/req/" + u.Role + "/" + u.Name + "\n";
        }
    }
    return acl;
}

std::string BrokerConfig(const std::string& dir) { return (fs::path(Absolute(dir)) / "broker" / "mosquitto.conf").string(); }

std::string VenueSite(const std::string& dir) { return LoadVenueJson(dir).value("site", std::string()); }

std::vector<VenueUser> Users(const std::string& dir) { return UsersOf(LoadVenueJson(dir)); }

int BrokerPid(const std::string& dir)
{
    const std::string text = ReadAll(fs::path(dir) / "broker" / "mosquitto.pid");
    const int pid = std::atoi(text.c_str());
    return pid > 0 && kill(pid, 0) == 0 ? pid : 0;
}

bool InitVenue(const std::string& given, const InitOptions& o, std::string& next, std::string& why)
{
    const std::string dir = Absolute(given);
    std::error_code ec;
    if (fs::exists(fs::path(dir) / "venue.json", ec)) {
        why = dir + " already holds a venue";
        return false;
    }
    if (!IsPlainName(o.Site) || !IsPlainName(o.FirstUser)) {
        why = "site and user names take letters, digits, '-', '_' and '.'";
        return false;
    }
    std::vector<std::string> hosts = o.Hosts;
    if (hosts.empty()) {
        char name[256] = {};
        if (gethostname(name, sizeof name - 1) == 0 && *name)
            hosts.push_back(name);
        hosts.push_back("localhost");
        hosts.push_back("127.0.0.1");
    }
    const fs::path root(dir), ca = root / "ca", broker = root / "broker", users = root / "users";
    for (const fs::path& p : {root, ca, broker, users, broker / "data"}) {
        fs::create_directories(p, ec);
        if (ec) {
            why = p.string() + ": " + ec.message();
            return false;
        }
    }
    fs::permissions(ca, fs::perms(0700), ec);
    fs::permissions(users, fs::perms(0700), ec);

    // The venue's own authority: every client trusts it and nothing else.
    const std::vector<std::string> ec256 = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    std::vector<std::string> makeCa = {"openssl", "req", "-x509"};
    makeCa.insert(makeCa.end(), ec256.begin(), ec256.end());
    makeCa.insert(makeCa.end(), {"-keyout", (ca / "ca.key").string(), "-out", (ca / "ca.pem").string(), "-days",
                                 "3650", "-subj", "/CN=KTV Tune venue " + o.Site + " CA"});
    if (!Run(makeCa, why))
        return false;
    fs::permissions(ca / "ca.key", fs::perms(0600), ec);

    std::string san;
    for (const std::string& h : hosts)
        san += (san.empty() ? "" : ",") + std::string(IsAddress(h) ? "IP:" : "DNS:") + h;
    if (!WriteText(broker / "broker.ext",
                   "basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                   "extendedKeyUsage=serverAuth\nsubjectAltName=" + san + "\n",
                   fs::perms(0644), why))
        return false;
    std::vector<std::string> makeKey = {"openssl", "req", "-new"};
    makeKey.insert(makeKey.end(), ec256.begin(), ec256.end());
    makeKey.insert(makeKey.end(), {"-keyout", (broker / "broker.key").string(), "-out",
                                   (broker / "broker.csr").string(), "-subj", "/CN=" + hosts.front()});
    if (!Run(makeKey, why) ||
        !Run({"openssl", "x509", "-req", "-in", (broker / "broker.csr").string(), "-CA", (ca / "ca.pem").string(),
              "-CAkey", (ca / "ca.key").string(), "-CAserial", (ca / "ca.srl").string(), "-CAcreateserial", "-out",
              (broker / "broker.pem").string(), "-days", "3650", "-extfile", (broker / "broker.ext").string()},
             why))
        return false;
    fs::remove(broker / "broker.csr", ec);
    fs::permissions(broker / "broker.key", fs::perms(0640), ec);
    GiveToBrokerGroup(broker / "broker.key");

    const std::string listener =
        "listener " + std::to_string(o.Port) + (o.Bind.empty() ? "" : " " + o.Bind) + "\n";
    const std::string conf =
        "# Written by ktvtune-cli venue init. TLS only (there is no plain port),\n"
        "# no anonymous access; users and their rights come from the password\n"
        "# file and the ACL, which ktvtune-cli venue add-user/remove-user keep.\n"
        "per_listener_settings false\n"
        "allow_anonymous false\n"
        "password_file " + (broker / "passwords").string() + "\n"
        "acl_file " + (broker / "acl").string() + "\n"
        "pid_file " + (broker / "mosquitto.pid").string() + "\n"
        "set_tcp_nodelay true\n"
        "persistence true\n"
        "persistence_location " + (broker / "data").string() + "/\n"
        "\n" + listener +
        "cafile " + (ca / "ca.pem").string() + "\n"
        "certfile " + (broker / "broker.pem").string() + "\n"
        "keyfile " + (broker / "broker.key").string() + "\n"
        "tls_version tlsv1.2\n";
    if (!WriteText(broker / "mosquitto.conf", conf, fs::perms(0644), why))
        return false;
    if (!WriteText(broker / "passwords", "", fs::perms(0640), why))
        return false;
    GiveToBrokerGroup(broker / "passwords");
    Json j = {{"site", o.Site}, {"port", o.Port}, {"hosts", hosts}};
    if (!SaveVenueJson(dir, j, {}, why) || !WriteAcl(dir, o.Site, {}, why))
        return false;
    std::string first;
    if (!AddUser(dir, {o.FirstUser, "technician", ""}, first, why))
        return false;
    next = "The venue is in " + dir + ".\n"
           "Next:\n"
           "  1. Run the broker on this machine: ktvtune-cli venue broker " + dir + "\n"
           "     (or: mosquitto -c " + (broker / "mosquitto.conf").string() + ")\n"
           "  2. For each room: ktvtune-cli venue add-user " + dir + " NAME --role agent --room ROOM\n"
           "     and on the room's PC: ktvtune-agent --venue NAME.venue --room ROOM\n"
           "  3. Staff and more technicians: ktvtune-cli venue add-user " + dir + " NAME --role staff|technician\n"
           "  4. The first technician's file is " + first + ":\n"
           "     ktvtune-cli --venue " + first + " venue list\n";
    return true;
}

bool AddUser(const std::string& given, const VenueUser& user, std::string& file, std::string& why)
{
    const std::string dir = Absolute(given);
    Json j = LoadVenueJson(dir);
    if (j.is_null()) {
        why = dir + " holds no venue (see 'ktvtune-cli venue init')";
        return false;
    }
    if (!IsPlainName(user.Name)) {
        why = "a user name takes letters, digits, '-', '_' and '.', not '" + user.Name + "'";
        return false;
    }
    if (user.Role != "technician" && user.Role != "staff" && user.Role != "agent") {
        why = "the role must be technician, staff or agent, not '" + user.Role + "'";
        return false;
    }
    if (user.Role == "agent" && user.Room.empty()) {
        why = "an agent serves one room: give --room ROOM";
        return false;
    }
    if (!user.Room.empty() && !IsPlainName(user.Room)) {
        why = "a room name takes letters, digits, '-', '_' and '.', not '" + user.Room + "'";
        return false;
    }
    if (user.Role == "technician" && !user.Room.empty()) {
        why = "a technician may tune every room: --room is for staff and agents";
        return false;
    }
    std::vector<VenueUser> users = UsersOf(j);
    for (const VenueUser& u : users)
        if (u.Name == user.Name) {
            why = "the venue already has a user '" + user.Name + "'";
            return false;
        }
    const std::string site = j.value("site", std::string("main"));
    const fs::path root(dir);
    VenueAccess access;
    std::vector<std::string> hosts = j.value("hosts", std::vector<std::string>{});
    access.Host = hosts.empty() ? "localhost" : hosts.front();
    access.Port = j.value("port", DefaultPort);
    access.Site = site;
    access.User = user.Name;
    access.Password = RandomPassword();
    access.Role = user.Role;
    access.Room = user.Room;
    access.CaPem = ReadAll(root / "ca" / "ca.pem");
    file = (root / "users" / (user.Name + ".venue")).string();
    if (!Run({"mosquitto_passwd", "-b", (root / "broker" / "passwords").string(), user.Name, access.Password}, why))
        return false;
    if (!WriteVenueFile(file, access, &why))
        return false;
    users.push_back(user);
    if (!SaveVenueJson(dir, j, users, why) || !WriteAcl(dir, site, users, why))
        return false;
    ReloadBroker(dir);
    return true;
}

bool RemoveUser(const std::string& given, const std::string& name, std::string& why)
{
    const std::string dir = Absolute(given);
    Json j = LoadVenueJson(dir);
    if (j.is_null()) {
        why = dir + " holds no venue (see 'ktvtune-cli venue init')";
        return false;
    }
    std::vector<VenueUser> users = UsersOf(j);
    const auto it = std::find_if(users.begin(), users.end(), [&](const VenueUser& u) { return u.Name == name; });
    if (it == users.end()) {
        why = "the venue has no user '" + name + "'";
        return false;
    }
    users.erase(it);
    const fs::path root(dir);
    if (!Run({"mosquitto_passwd", "-D", (root / "broker" / "passwords").string(), name}, why))
        return false;
    std::error_code ec;
    fs::remove(root / "users" / (name + ".venue"), ec);
    if (!SaveVenueJson(dir, j, users, why) || !WriteAcl(dir, j.value("site", std::string("main")), users, why))
        return false;
    ReloadBroker(dir);
    return true;
}

} // namespace ktv::venue
