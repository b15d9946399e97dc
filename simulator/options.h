// cardwright-sim's command line.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace cwsim {

enum class Role { Cardwright, RosterLink };
enum class Show { Normal, Minimized, Hidden };

struct Failure {
    int code = 0;
    std::string text;
};

struct Options {
    std::string design; // empty: start with no design open
    int port = 8080;    // 0: any free port (printed at start-up)
    std::string bind = "127.0.0.1";
    std::string accessKey;         // empty: no key required
    std::string accessKeyFile;     // where the key is read from (resolveAccessKey)
    bool keyOnCommandLine = false; // --access-key: visible to every local user
    Role role = Role::Cardwright;
    Show show = Show::Normal;
    double startDelay = 0;                   // seconds before listening
    int busyMs = 0;                          // extra time each queued command keeps it busy
    std::map<std::string, Failure> failures; // method -> fault it answers
    std::string printDir; // where Print writes; empty: "prints" beside the roster
    std::string callLog = "cardwright-sim-calls.log"; // what Startlog writes to
    bool help = false;
    bool version = false;
};

class OptionsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Throws OptionsError with a message naming the offending option.
Options parseOptions(const std::vector<std::string>& args);
std::string usageText();

// Settles the access key: --access-key-file FILE (its first line; refused
// when group or others may read it), else --access-key, else `environment`
// (CARDWRIGHT_SIM_ACCESS_KEY, may be null). Throws OptionsError.
void resolveAccessKey(Options& options, const char* environment);

const char* roleName(Role role);
const char* showName(Show show);

} // namespace cwsim
