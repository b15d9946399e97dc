#include "options.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace cwsim {
namespace {

int wholeNumber(const std::string& option, const std::string& value, int lo, int hi) {
    int n = 0;
    auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || ptr != value.data() + value.size() || n < lo ||
        n > hi)
        throw OptionsError(option + " needs a whole number from " + std::to_string(lo) + " to " +
                           std::to_string(hi) + ", not '" + value + "'");
    return n;
}

} // namespace

const char* roleName(Role role) {
    return role == Role::Cardwright ? "cardwright" : "rosterlink";
}

const char* showName(Show show) {
    switch (show) {
    case Show::Normal:
        return "normal";
    case Show::Minimized:
        return "minimized";
    case Show::Hidden:
        return "hidden";
    }
    return "normal";
}

std::string usageText() {
    return "Usage: cardwright-sim [OPTION]...\n"
           "A stand-in Cardwright (or RosterLink) serving the XML-RPC remote-control\n"
           "interface at http://ADDR:PORT/RPC2 from a card design and its roster.\n"
           "\n"
           "  --design FILE.idc     open this design at start-up (default: none)\n"
           "  --port N              TCP port to listen on (default 8080; 0 = any free port)\n"
           "  --bind ADDR           address to listen on (default 127.0.0.1, loopback only)\n"
           "  --access-key-file FILE\n"
           "                        require the HTTP header X-Cardwright-Access-Key with the key\n"
           "                        on FILE's first line (FILE readable by its owner only)\n"
           "  --access-key KEY      the same with KEY (other local users can read it: prefer the\n"
           "                        file or the environment variable CARDWRIGHT_SIM_ACCESS_KEY)\n"
           "  --role ROLE           cardwright (default) or rosterlink\n"
           "  --show MODE           normal (default), minimized or hidden (no window, no display "
           "needed)\n"
           "  --start-delay SECONDS wait this long before listening (default 0)\n"
           "  --busy-ms N           keep each queued command busy N more milliseconds (default 0)\n"
           "  --fail METHOD=CODE:TEXT\n"
           "                        METHOD answers a fault with CODE and TEXT (repeatable)\n"
           "  --print-dir DIR       where Print writes PNG files (default: prints/ beside the "
           "roster)\n"
           "  --call-log FILE       file that Startlog appends calls to (default "
           "cardwright-sim-calls.log)\n"
           "  --help                show this text and exit\n"
           "  --version             show the version and exit\n"
           "\n"
           "Exit status: 0 after Exit or a signal, 1 when the server cannot start, 2 for a bad "
           "option.\n";
}

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool inlineValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        auto next = [&]() -> std::string {
            if (inlineValue)
                return value;
            if (i + 1 >= args.size())
                throw OptionsError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--version") {
            o.version = true;
        } else if (arg == "--design") {
            o.design = next();
            if (o.design.empty())
                throw OptionsError("--design needs a file name");
        } else if (arg == "--port") {
            o.port = wholeNumber(arg, next(), 0, 65535);
        } else if (arg == "--bind") {
            o.bind = next();
            if (o.bind.empty())
                throw OptionsError("--bind needs an address");
        } else if (arg == "--access-key") {
            o.accessKey = next();
            // An empty key would silently mean "no key required".
            if (o.accessKey.empty())
                throw OptionsError("--access-key needs a non-empty key");
            o.keyOnCommandLine = true;
        } else if (arg == "--access-key-file") {
            o.accessKeyFile = next();
            if (o.accessKeyFile.empty())
                throw OptionsError("--access-key-file needs a file name");
        } else if (arg == "--role") {
            auto v = next();
            if (v == "cardwright")
                o.role = Role::Cardwright;
            else if (v == "rosterlink")
                o.role = Role::RosterLink;
            else
                throw OptionsError("--role must be cardwright or rosterlink, not '" + v + "'");
        } else if (arg == "--show") {
            auto v = next();
            if (v == "normal")
                o.show = Show::Normal;
            else if (v == "minimized" || v == "minimised")
                o.show = Show::Minimized;
            else if (v == "hidden")
                o.show = Show::Hidden;
            else
                throw OptionsError("--show must be normal, minimized or hidden, not '" + v + "'");
        } else if (arg == "--start-delay") {
            auto v = next();
            double d = 0;
            auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
            if (v.empty() || ec != std::errc() || ptr != v.data() + v.size() || !std::isfinite(d) ||
                d < 0 || d > 3600)
                throw OptionsError("--start-delay needs seconds from 0 to 3600, not '" + v + "'");
            o.startDelay = d;
        } else if (arg == "--busy-ms") {
            o.busyMs = wholeNumber(arg, next(), 0, 600000);
        } else if (arg == "--fail") {
            auto v = next();
            auto eq = v.find('=');
            auto colon = v.find(':', eq == std::string::npos ? 0 : eq);
            if (eq == std::string::npos || eq == 0 || colon == std::string::npos)
                throw OptionsError("--fail needs METHOD=CODE:TEXT, not '" + v + "'");
            Failure f;
            f.code = wholeNumber("--fail's CODE", v.substr(eq + 1, colon - eq - 1), 1, 2147483647);
            f.text = v.substr(colon + 1);
            if (f.text.empty())
                throw OptionsError("--fail needs a TEXT after the code in '" + v + "'");
            o.failures[v.substr(0, eq)] = f;
        } else if (arg == "--print-dir") {
            o.printDir = next();
        } else if (arg == "--call-log") {
            o.callLog = next();
            if (o.callLog.empty())
                throw OptionsError("--call-log needs a file name");
        } else {
            throw OptionsError("unknown option '" + args[i] + "' (see --help)");
        }
    }
    if (o.keyOnCommandLine && !o.accessKeyFile.empty())
        throw OptionsError("give --access-key or --access-key-file, not both");
    return o;
}

void resolveAccessKey(Options& o, const char* environment) {
    if (!o.accessKeyFile.empty()) {
        const std::string& file = o.accessKeyFile;
        struct stat st {};
        if (stat(file.c_str(), &st) != 0)
            throw OptionsError("cannot read the access key file " + file + ": " +
                               std::strerror(errno));
        if (!S_ISREG(st.st_mode))
            throw OptionsError("the access key file " + file + " is not a regular file");
        if (st.st_mode & (S_IRGRP | S_IROTH)) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
            throw OptionsError("the access key file " + file +
                               " is readable by group or others "
                               "(mode " +
                               mode + "); make it private: chmod 600 " + file);
        }
        std::ifstream in(file, std::ios::binary);
        std::string line;
        if (!in || !std::getline(in, line))
            line.clear();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            throw OptionsError("the access key file " + file + " has no key on its first line");
        o.accessKey = line;
    } else if (o.accessKey.empty() && environment) {
        // Set but empty would silently mean "no key required".
        if (*environment == '\0')
            throw OptionsError("CARDWRIGHT_SIM_ACCESS_KEY is set but empty");
        o.accessKey = environment;
    }
}

} // namespace cwsim
