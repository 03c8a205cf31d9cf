// Reads GNOME's proxy settings through the gsettings command, so that the program needs no
// GLib of its own; the command's environment (GSETTINGS_BACKEND, XDG_*) is ours.
#include "http/systemproxysettings_platform.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "base/clock.h"

extern char** environ;

namespace tessel {
namespace http {
namespace detail {
namespace {

constexpr int kTimeoutMilliseconds = 5000;
constexpr size_t kMaxOutput = 256 * 1024;

}  // namespace

bool readGnomeProxyListing(String& listing) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char arg0[] = "gsettings";
    char arg1[] = "list-recursively";
    char arg2[] = "org.gnome.system.proxy";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    pid_t pid = -1;
    int spawned = posix_spawnp(&pid, "gsettings", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        return false;
    }

    std::string output;
    bool complete = false;
    int64_t deadline = tessel::monotonicMilliseconds() + kTimeoutMilliseconds;
    for (;;) {
        int64_t left = deadline - tessel::monotonicMilliseconds();
        if (left <= 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char block[4096];
        ssize_t n = read(fds[0], block, sizeof(block));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            complete = n == 0;
            break;
        }
        if (output.size() + static_cast<size_t>(n) > kMaxOutput)
            break;
        output.append(block, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (!complete)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!complete || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    listing = String::copy(output);
    return true;
}

// GNOME's settings when its schema is installed and its mode is not "none", otherwise the
// environment's.
SystemProxySettings readSystemProxySettings() {
    String listing;
    SystemProxySettings settings;
    if (readGnomeProxyListing(listing) && SystemProxySettings::fromGnomeListing(listing, settings))
        return settings;
    return SystemProxySettings::fromEnvironment();
}

bool systemProxySettingsAreCostly() {
    return true;
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
