// The evaluator process: posix_spawn with a socket pair, poll for deadlines, SIGKILL and
// waitpid to end it.
#include "http/pacchild.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "base/clock.h"

extern char** environ;

namespace tessel {
namespace http {
namespace {

constexpr char kProgramName[] = "vexlan-pac-eval";

// Waits until `fd` is ready for `events` or the deadline passes.
bool waitFor(int fd, short events, int64_t deadline) {
    for (;;) {
        int64_t left = deadline - monotonicMilliseconds();
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        int rc = poll(&p, 1, static_cast<int>(left > INT_MAX ? INT_MAX : left));
        if (rc > 0)
            return true;
        if (rc < 0 && errno != EINTR)
            return false;
    }
}

bool executable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

// The folder of this executable, symbolic links resolved; empty when unknown.
std::string executableFolder() {
    char buffer[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return std::string();
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

String PacChild::program() {
    const char* chosen = getenv("VEXLAN_PAC_EVALUATOR");
    if (chosen && *chosen)
        return String(chosen);
    std::string folder = executableFolder();
    std::string beside = folder + "/" + kProgramName;
    std::string installed = folder + "/../lib/vexlanclient/" + kProgramName;
    if (!executable(beside) && executable(installed))
        return String::copy(installed);
    return String::copy(beside);
}

std::unique_ptr<PacChild> PacChild::start(const String& program, String& error) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = String(std::strerror(errno));
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the copy; closefrom drops whatever else the process holds
    // without the flag.
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // Default dispositions and an empty mask: the client's own signal set-up is no concern of
    // the evaluator.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::string path = program.toStd();
    char name[] = "vexlan-pac-eval";
    char serve[] = "--serve";
    char* argv[] = {name, serve, nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pair[1]);
    if (rc != 0) {
        close(pair[0]);
        error = String::copy(path + ": " + std::strerror(rc));
        return nullptr;
    }
    return std::unique_ptr<PacChild>(new PacChild(pid, pair[0]));
}

PacChild::~PacChild() {
    kill(static_cast<pid_t>(m_pid), SIGKILL);
    close(m_socket);
    // ECHILD: someone else reaped it (a SIGCHLD set to be ignored does that).
    while (waitpid(static_cast<pid_t>(m_pid), nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool PacChild::write(const std::string& data, int64_t deadline) {
    size_t done = 0;
    while (done < data.size()) {
        if (!waitFor(m_socket, POLLOUT, deadline))
            return false;
        // MSG_NOSIGNAL: a process that died must not take the client down with SIGPIPE.
        ssize_t n =
            send(m_socket, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool PacChild::read(char* data, size_t count, int64_t deadline) {
    size_t done = 0;
    while (done < count) {
        if (!waitFor(m_socket, POLLIN, deadline))
            return false;
        ssize_t n = recv(m_socket, data + done, count - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return false;
        }
    }
    return true;
}

}  // namespace http
}  // namespace tessel
