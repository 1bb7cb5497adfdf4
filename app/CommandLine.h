#pragma once
// The console's command line and the checks made before the window system is touched: --help and
// --version answer without a display, unknown arguments are refused, and a missing display is said in
// one line instead of the toolkit aborting.

#include <string>
#include <vector>

namespace commandline {

// What main() does with the arguments.
struct Decision {
    bool run = false;     // start the console
    int exitCode = 0;     // when not run
    std::string out;      // printed to standard output before exiting
    std::string err;      // printed to standard error before exiting
    std::string platform; // "-platform NAME" (or "-platform=NAME"), empty when not given
    bool display = false; // "-display NAME" was given
    // Remote control through Tango: --tango, or any of the options that set it up.
    bool tango = false;
    int tangoPort = 0;                     // --tango-port N: serve without a database on port N
    std::string tangoListen = "127.0.0.1"; // --tango-listen ADDR
    std::string tangoInstance = "1";       // --tango-instance NAME: the server instance in the database
    // --port-dir DIR: the port folder for this start, remembered for the next ones; empty when not given.
    std::string portDir;
    // --new-instance: start beside a console already running in this session instead of bringing it up.
    bool newInstance = false;
    // Tango's standard server start, "orvane INSTANCE [-vN] [-nodb -dlist NAMES] [-file=FILE]
    // [-ORBendPoint giop:tcp:ADDR:PORT]": the arguments after the instance, for Tango.
    std::vector<std::string> tangoServerArgs;
};

// The usage text; Program is the name the console was started by.
std::string usage(const std::string& Program);

// Reads the arguments after the program name. The toolkit's own options (-platform, -display, -style,
// ...) are accepted and left for it. A first argument that is not an option is the Tango server
// instance of Tango's standard start (see parseServerStart).
Decision parse(const std::string& Program, const std::vector<std::string>& Arguments);

// Tango's standard device server start, as Starter and Astor run a server: the instance name first, then
// Tango's options (-v / -vN trace level, -nodb with -dlist, -file=FILE, -ORB... options), mixed with the
// console's own options.
Decision parseServerStart(const std::string& Program, const std::vector<std::string>& Arguments);

// The environment the decision is judged against: QT_QPA_PLATFORM, DISPLAY, WAYLAND_DISPLAY.
struct Environment {
    std::string qpaPlatform;
    std::string display;
    std::string waylandDisplay;
    static Environment current();
};

// Empty when the console can expect a screen; otherwise the one line that says why it cannot start.
std::string missingDisplay(const Decision& Parsed, const Environment& Env);

// Sets XDG_RUNTIME_DIR to a private folder of the user's when it is missing, so that the toolkit has one
// without warning about it. Returns the folder used, or empty when the variable was already set or no
// private folder could be made (the toolkit then falls back by itself).
std::string ensureRuntimeDir();

} // namespace commandline
