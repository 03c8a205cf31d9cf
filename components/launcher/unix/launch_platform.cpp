// Opening a service on Linux: xdg-open in a session of its own.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "launch_platform.h"

extern char** environ;

namespace {

void complain(const std::string& text) {
    std::fprintf(stderr, "launcher: %s\n", text.c_str());
}

}  // namespace

// Starts xdg-open in a session of its own, its standard streams on /dev/null, and reaps it
// from a detached thread so that no zombie stays behind.
bool launch(const std::string& service) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(service.c_str()), nullptr};
    pid_t pid = 0;
    int error = posix_spawnp(&pid, "xdg-open", &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        complain(std::string("cannot start xdg-open: ") + std::strerror(error));
        return false;
    }
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}
