#include "launch.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cwxmlclient.h"

namespace cwx {
namespace {

constexpr const char* kProgramName = "cardwright-sim";

// dladdr on this object's address names the file of the library itself.
const int kAnchor = 0;

bool is_executable_file(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string find_on_path(std::string_view name) {
    const char* env = std::getenv("PATH");
    const std::string_view dirs = (env && *env) ? env : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string_view::npos)
            end = dirs.size();
        // An empty entry means the current folder.
        std::string candidate(end > start ? dirs.substr(start, end - start) : ".");
        candidate.append("/").append(name);
        if (is_executable_file(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

std::string library_directory(std::string& library_file) {
    Dl_info info{};
    if (dladdr(&kAnchor, &info) == 0 || info.dli_fname == nullptr)
        return {};
    library_file = info.dli_fname;
    const std::size_t slash = library_file.rfind('/');
    return slash == std::string::npos ? std::string(".") : library_file.substr(0, slash);
}

// The program to start, or "" with `error` set.
std::string find_program(Role role, std::string& error) {
    const char* override_name = nullptr;
    if (role == Role::RosterLink) {
        override_name = std::getenv("CWXML_ROSTERLINK");
        if (!override_name || !*override_name)
            override_name = std::getenv("CWXML_CARDWRIGHT");
    } else {
        override_name = std::getenv("CWXML_CARDWRIGHT");
    }
    if (override_name && *override_name) {
        if (std::strchr(override_name, '/'))
            return override_name; // exec reports a missing or unusable file
        std::string found = find_on_path(override_name);
        if (found.empty())
            error = "Cannot launch: " + std::string(override_name) + " not found on PATH";
        return found;
    }
    // An installation keeps programs in its bin folder; the build tree puts
    // them beside the library.
    std::string library_file;
    const std::string dir = library_directory(library_file);
    const std::string bin =
        dir.empty()
            ? std::string()
            : std::filesystem::path(dir + "/" + CWXML_LIBDIR_TO_BINDIR).lexically_normal().string();
    if (!dir.empty()) {
        for (const std::string& folder : {bin, dir}) {
            std::string candidate = folder + "/" + kProgramName;
            if (is_executable_file(candidate))
                return candidate;
        }
    }
    std::string found = find_on_path(kProgramName);
    if (found.empty())
        error = std::string("Cannot launch: ") + kProgramName + " not found in " +
                (bin.empty() ? std::string("the installation's bin folder") : bin) + ", beside " +
                (library_file.empty() ? std::string("the library") : library_file) + " or on PATH";
    return found;
}

const char* show_word(std::int32_t mode) {
    switch (mode) {
    case CWX_SHOW_HIDDEN:
        return "hidden";
    case CWX_SHOW_MINIMIZED:
        return "minimized";
    default:
        return "normal";
    }
}

// Writes errno to the pipe; only async-signal-safe calls after fork().
[[noreturn]] void report_and_exit(int fd, int code) {
    const int err = errno;
    ssize_t ignored = write(fd, &err, sizeof err);
    (void)ignored;
    _exit(code);
}

} // namespace

bool launch(Role role, const char* design_path, std::int32_t show_mode, std::int32_t port,
            std::string& error) {
    const std::string design = design_path ? design_path : "";
    struct stat st {};
    if (design.empty()) {
        error = "Cannot launch: no design file given";
        return false;
    }
    if (stat(design.c_str(), &st) != 0) {
        error = "Cannot launch: design file " + design + " does not exist";
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = "Cannot launch: " + design + " is a folder, not a design file";
        return false;
    }
    const std::string program = find_program(role, error);
    if (program.empty())
        return false;

    // Everything exec needs is built before fork: the children may only make
    // async-signal-safe calls.
    std::vector<std::string> words = {
        program,  "--design",          design, "--show", show_word(show_mode),
        "--port", std::to_string(port)};
    if (role == Role::RosterLink) {
        words.emplace_back("--role");
        words.emplace_back("rosterlink");
    }
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        error = "Cannot start " + program + ": " + std::generic_category().message(errno);
        return false;
    }
    // Fork twice: the middle process exits at once and is reaped here, so the
    // application is adopted by init and never becomes our zombie.
    const pid_t middle = fork();
    if (middle < 0) {
        const int err = errno;
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        error = "Cannot start " + program + ": " + std::generic_category().message(err);
        return false;
    }
    if (middle == 0) {
        close(pipe_fds[0]);
        setsid();
        const pid_t child = fork();
        if (child < 0)
            report_and_exit(pipe_fds[1], 1);
        if (child > 0)
            _exit(0);
        const int null_fd = open("/dev/null", O_RDONLY);
        if (null_fd > 0) {
            dup2(null_fd, 0);
            close(null_fd);
        }
        // The application inherits none of our descriptors (sockets, files)
        // beyond 0-2; the error pipe is close-on-exec already.
        close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv(argv[0], argv.data());
        report_and_exit(pipe_fds[1], 127);
    }
    close(pipe_fds[1]);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes on a successful exec; otherwise it carries errno.
    int exec_errno = 0;
    ssize_t got = 0;
    do {
        got = read(pipe_fds[0], &exec_errno, sizeof exec_errno);
    } while (got < 0 && errno == EINTR);
    close(pipe_fds[0]);
    if (got == static_cast<ssize_t>(sizeof exec_errno)) {
        error = "Cannot start " + program + ": " + std::generic_category().message(exec_errno);
        return false;
    }
    return true;
}

} // namespace cwx
