#include "CommandLine.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ORVANE_VERSION
#define ORVANE_VERSION "0"
#endif

namespace commandline {

namespace {

// The toolkit's own options that take a value, and those that do not; both are passed on to it.
constexpr std::array<std::string_view, 15> toolkitWithValue = {"platform",
                                                               "platformpluginpath",
                                                               "platformtheme",
                                                               "plugin",
                                                               "qwindowgeometry",
                                                               "geometry",
                                                               "qwindowicon",
                                                               "icon",
                                                               "qwindowtitle",
                                                               "title",
                                                               "session",
                                                               "display",
                                                               "name",
                                                               "style",
                                                               "stylesheet"};
constexpr std::array<std::string_view, 6> toolkitFlags = {"reverse", "widgetcount", "nograb",
                                                          "dograb",  "sync",        "testability"};

template <std::size_t N> bool oneOf(std::string_view name, const std::array<std::string_view, N>& names) {
    for (std::string_view n : names)
        if (n == name)
            return true;
    return false;
}

// Platforms that draw without any screen of the desktop's.
bool screenless(std::string_view platform) {
    return platform == "offscreen" || platform == "minimal" || platform == "vnc" || platform == "eglfs" ||
           platform == "linuxfb" || platform.starts_with("offscreen:") || platform.starts_with("vnc:") ||
           platform.starts_with("eglfs:") || platform.starts_with("linuxfb:");
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

std::string usage(const std::string& Program) {
    return "Usage: " + Program +
           " [OPTION]...\n"
           "Control console for one or two scanning spectrographs on serial lines.\n"
           "\n"
           "  -h, --help        show this help and exit\n"
           "  -v, --version     show the version and exit\n"
           "  --port-dir DIR    the folder whose files COM1 ... COM32 name the serial ports, usually\n"
           "                    links into /dev/serial/by-id; remembered for the next starts\n"
           "  --new-instance    start another console even when one runs in this desktop session\n"
           "                    with the same port folder; without it that one comes to the front\n"
           "\n"
           "Remote control through Tango (each panel a device of class OrvaneSpectrograph):\n"
           "  --tango                start the console's Tango device server; with TANGO_HOST set, as\n"
           "                         the server instance orvane/NAME of that database\n"
           "  --tango-port N         serve without a database on port N, as\n"
           "                         tango://HOST:N/orvane/spectrograph/1#dbase=no (and .../2)\n"
           "  --tango-listen ADDR    listen on ADDR (default 127.0.0.1; anyone who reaches the port\n"
           "                         can move the drive)\n"
           "  --tango-instance NAME  the server instance in the database (default 1)\n"
           "\n"
           "Tango's standard server start (as Starter runs it), instead of --tango:\n"
           "  " +
           Program +
           " INSTANCE [-vN] [-nodb -dlist NAME,NAME] [-file=FILE] [-ORBendPoint giop:tcp:ADDR:PORT]\n"
           "                         serve as the instance orvane/INSTANCE of the database, of the\n"
           "                         database file FILE, or without one (-nodb; names default to\n"
           "                         orvane/spectrograph/1,2); -vN is Tango's trace level (1 to 5)\n"
           "\n"
           "The toolkit's own options (-platform NAME, -display NAME, -style NAME, ...) are accepted.\n"
           "\n"
           "Environment:\n"
           "  ORVANE_PORT_DIR  the port folder, as --port-dir but not remembered. --port-dir wins\n"
           "                   over it, and it wins over the remembered folder (skipped when it\n"
           "                   is gone); with none of the three COMn is the n-th serial device\n"
           "  XDG_CONFIG_HOME  the remembered port folder and each panel's last port are in\n"
           "                   $XDG_CONFIG_HOME/Orvane/orvane.conf (default ~/.config/Orvane)\n"
           "  XDG_STATE_HOME   an installed console logs to $XDG_STATE_HOME/Orvane/Logs (default\n"
           "                   ~/.local/state/Orvane/Logs); one run from its build folder logs to Logs\n"
           "                   beside itself\n"
           "\n"
           "Serial ports need membership of the dialout group.\n";
}

Decision parse(const std::string& Program, const std::vector<std::string>& Arguments) {
    if (!Arguments.empty() && !Arguments[0].empty() && Arguments[0][0] != '-')
        return parseServerStart(Program, Arguments);
    Decision d;
    auto refuse = [&](const std::string& why) {
        d.run = false;
        d.exitCode = 2;
        d.out.clear();
        d.err = Program + ": " + why + "\n" + usage(Program);
        return d;
    };
    for (std::size_t i = 0; i < Arguments.size(); ++i) {
        const std::string& arg = Arguments[i];
        if (arg == "-h" || arg == "--help") {
            d.exitCode = 0;
            d.out = usage(Program);
            return d;
        }
        if (arg == "-v" || arg == "--version") {
            d.exitCode = 0;
            d.out = Program + " " ORVANE_VERSION "\n";
            return d;
        }
        // The toolkit takes its options with one dash or two, and a value after "=" or as the next word.
        std::string_view name(arg);
        if (!name.starts_with('-') || name == "-" || name == "--")
            return refuse("unknown argument '" + arg + "'");
        name.remove_prefix(name.starts_with("--") ? 2 : 1);
        std::string value;
        bool hasValue = false;
        if (auto eq = name.find('='); eq != std::string_view::npos) {
            value = std::string(name.substr(eq + 1));
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "tango" && !hasValue) {
            d.tango = true;
            continue;
        }
        if (name == "tango-port" || name == "tango-listen" || name == "tango-instance") {
            if (!hasValue) {
                if (i + 1 >= Arguments.size())
                    return refuse("option '" + arg + "' needs a value");
                value = Arguments[++i];
            }
            d.tango = true;
            if (name == "tango-port") {
                char* end = nullptr;
                errno = 0;
                const long port = std::strtol(value.c_str(), &end, 10);
                if (value.empty() || *end || errno || port < 1 || port > 65535)
                    return refuse("'" + value + "' is not a port number (1 to 65535)");
                d.tangoPort = static_cast<int>(port);
            } else if (value.empty()) {
                return refuse("option '" + arg + "' needs a value");
            } else if (name == "tango-listen") {
                d.tangoListen = value;
            } else {
                d.tangoInstance = value;
            }
            continue;
        }
        if (name == "new-instance" && !hasValue) {
            d.newInstance = true;
            continue;
        }
        if (name == "port-dir") {
            if (!hasValue) {
                if (i + 1 >= Arguments.size())
                    return refuse("option '" + arg + "' needs a value");
                value = Arguments[++i];
            }
            if (value.empty())
                return refuse("option '" + arg + "' needs a value");
            d.portDir = value;
            continue;
        }
        if (oneOf(name, toolkitFlags) && !hasValue)
            continue;
        if (!oneOf(name, toolkitWithValue))
            return refuse("unknown option '" + arg + "'");
        if (!hasValue) {
            if (i + 1 >= Arguments.size())
                return refuse("option '" + arg + "' needs a value");
            value = Arguments[++i];
        }
        if (name == "platform")
            d.platform = value;
        else if (name == "display")
            d.display = true;
    }
    d.run = true;
    return d;
}

Decision parseServerStart(const std::string& Program, const std::vector<std::string>& Arguments) {
    auto refuse = [&](const std::string& why) {
        Decision d;
        d.exitCode = 2;
        d.err = Program + ": " + why + "\n" + usage(Program);
        return d;
    };
    const std::string& instance = Arguments.at(0);
    // Tango's own options are taken out here; the rest are the console's and the toolkit's.
    std::vector<std::string> tango, rest;
    bool nodb = false, dlist = false, file = false, endpoint = false;
    for (std::size_t i = 1; i < Arguments.size(); ++i) {
        const std::string& arg = Arguments[i];
        auto value = [&]() -> const std::string* {
            if (i + 1 >= Arguments.size() || Arguments[i + 1].empty())
                return nullptr;
            return &Arguments[++i];
        };
        if (arg == "-v" || (arg.size() > 2 && arg.starts_with("-v") &&
                            arg.find_first_not_of("0123456789", 2) == std::string::npos)) {
            if (arg.size() > 2 && (std::atoi(arg.c_str() + 2) < 1 || std::atoi(arg.c_str() + 2) > 5))
                return refuse("'" + arg + "' is not a Tango trace level (-v1 to -v5)");
            tango.push_back(arg);
        } else if (arg == "-nodb") {
            nodb = true;
            tango.push_back(arg);
        } else if (arg == "-dlist") {
            const std::string* names = value();
            if (!names)
                return refuse("option '-dlist' needs the device names (NAME,NAME)");
            // Tango's syntax: domain/family/member, optionally after "ClassName::".
            std::size_t from = 0, count = 0;
            while (from <= names->size()) {
                const std::size_t comma = std::min(names->find(',', from), names->size());
                std::string name = names->substr(from, comma - from);
                from = comma + 1;
                if (const std::size_t colons = name.find("::"); colons != std::string::npos)
                    name.erase(0, colons + 2);
                const std::size_t first = name.find('/'), second = name.find('/', first + 1);
                if (first == 0 || first == std::string::npos || second == std::string::npos ||
                    second == first + 1 || second + 1 >= name.size() ||
                    name.find('/', second + 1) != std::string::npos)
                    return refuse("'" + name + "' is not a Tango device name (domain/family/member)");
                ++count;
            }
            if (count > 2)
                return refuse("the console has two spectrograph panels: give -dlist one or two names");
            dlist = true;
            tango.insert(tango.end(), {arg, *names});
        } else if (arg.starts_with("-file=")) {
            if (arg.size() == 6)
                return refuse("option '-file=' needs the database file");
            file = true;
            tango.push_back(arg);
        } else if (arg.starts_with("-ORB") && arg.size() > 4) {
            const std::string* setting = value();
            if (!setting)
                return refuse("option '" + arg + "' needs a value");
            endpoint = endpoint || arg == "-ORBendPoint";
            tango.insert(tango.end(), {arg, *setting});
        } else if (arg == "-tango" || arg == "--tango" || arg.starts_with("--tango-instance") ||
                   arg.starts_with("-tango-instance")) {
            return refuse("option '" + arg + "' does not go with the instance " + instance + " given first");
        } else {
            rest.push_back(arg);
        }
    }
    if (!rest.empty() && !rest[0].starts_with('-'))
        return refuse("unknown argument '" + rest[0] + "' (the instance " + instance + " is given already)");
    Decision d = parse(Program, rest);
    if (!d.run || !d.out.empty())
        return d;
    if (nodb && file)
        return refuse("-nodb and -file= exclude each other");
    if (dlist && !nodb)
        return refuse("-dlist goes with -nodb");
    if ((nodb || file) && !endpoint && d.tangoPort == 0)
        return refuse(std::string(nodb ? "-nodb" : "-file=") +
                      " needs a port: add --tango-port N (or -ORBendPoint giop:tcp:ADDR:N)");
    if (endpoint && (d.tangoPort != 0 || d.tangoListen != "127.0.0.1"))
        return refuse("give either -ORBendPoint or --tango-port/--tango-listen");
    d.tango = true;
    d.tangoInstance = instance;
    d.tangoServerArgs = std::move(tango);
    return d;
}

Environment Environment::current() {
    return {env("QT_QPA_PLATFORM"), env("DISPLAY"), env("WAYLAND_DISPLAY")};
}

std::string missingDisplay(const Decision& Parsed, const Environment& Env) {
    const std::string platform = Parsed.platform.empty() ? Env.qpaPlatform : Parsed.platform;
    if (screenless(platform))
        return {};
    const bool x11 = Parsed.display || !Env.display.empty();
    const bool wayland = !Env.waylandDisplay.empty();
    if (platform.starts_with("xcb") && x11)
        return {};
    if (platform.starts_with("wayland") && wayland)
        return {};
    if (platform.empty() && (x11 || wayland))
        return {};
    if (!platform.empty() && !platform.starts_with("xcb") && !platform.starts_with("wayland"))
        return {}; // a platform of its own choosing: let the toolkit judge
    return "cannot start: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)";
}

std::string ensureRuntimeDir() {
    if (!env("XDG_RUNTIME_DIR").empty())
        return {};
    std::string base = env("TMPDIR");
    if (base.empty())
        base = "/tmp";
    const uid_t uid = ::getuid();
    std::string user;
    if (const passwd* pw = ::getpwuid(uid))
        user = pw->pw_name;
    else
        user = std::to_string(uid);
    const std::string dir = base + "/runtime-" + user;
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    // Only a folder that is ours and closed to others will do; the toolkit insists on both.
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid)
        return {};
    if ((st.st_mode & 0777) != 0700 && ::chmod(dir.c_str(), 0700) != 0)
        return {};
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    return dir;
}

} // namespace commandline
