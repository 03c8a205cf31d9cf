// One running vexlan-pac-eval process and the socket connected to it (unix/pacchild.cpp).
// Used by PacEvaluator only; the process runs scripts of the network, so everything it sends
// is read with a deadline and a cap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/string.h"

namespace tessel {
namespace http {

class PacChild {
public:
    // Starts `program` (by exec: the threaded client never forks without it) with the socket
    // as its standard input, standard output on /dev/null and no other descriptor of ours.
    // Null when it cannot be started; the system's reason is in `error`.
    static std::unique_ptr<PacChild> start(const String& program, String& error);
    // Kills the process and waits for it, so that it neither runs on nor stays a zombie.
    ~PacChild();
    PacChild(const PacChild&) = delete;
    PacChild& operator=(const PacChild&) = delete;

    int64_t processId() const { return m_pid; }
    // All of `data` written, or false once the deadline (monotonic milliseconds) passed or
    // the process closed its end.
    bool write(const std::string& data, int64_t deadline);
    // Exactly `count` bytes read into `data`, under the same conditions.
    bool read(char* data, size_t count, int64_t deadline);

    // Where the evaluator program is: $VEXLAN_PAC_EVALUATOR when set (tests, runs from the
    // build tree), otherwise "vexlan-pac-eval" beside this executable (resolved through
    // symbolic links), otherwise in ../lib/vexlanclient from it (vexlan-cli in /usr/bin).
    static String program();

private:
    PacChild(int64_t pid, int socket) : m_pid(pid), m_socket(socket) {}
    int64_t m_pid;
    int m_socket;
};

}  // namespace http
}  // namespace tessel
