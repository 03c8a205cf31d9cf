// The sample tunnel plugin's object: what the client configured, the connection's progress on
// a thread of its own, the status reports the client polls, and the commands of its logs
// entry. No real tunnel is built: the states are those a VPN client goes through, and the
// "connection" is the fetch of its configuration from the gateway. See README.md.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vexlanclient/pluginabi.h"

namespace tunnel {

// The gateway's tunnel.conf: "key=value" lines; blank lines and lines starting with "#" are
// skipped, and so are lines without "=".
std::map<std::string, std::string> parseConfiguration(const std::string& text);

// The proxy text of DllSetProxy2 with its password (fifth field) replaced by "***".
std::string maskedProxy(const std::string& proxy);

// A plain file name that stays in its folder: not empty, no "/" or "\", not starting with ".".
bool isPlainFileName(const std::string& name);

class Tunnel {
public:
    // How long each step before the connection lasts, unless VEXLAN_TUNNEL_STEP_MS says.
    static constexpr int kDefaultStepMilliseconds = 1000;
    // Lines kept in the tunnel's own log (older ones are dropped).
    static constexpr size_t kMaxLogLines = 1000;

    Tunnel();
    ~Tunnel();
    Tunnel(const Tunnel&) = delete;
    Tunnel& operator=(const Tunnel&) = delete;

    // Configuration: every text export stores its value under the export's name.
    void set(const std::string& name, const char* value);
    void addServerName(const char* name);
    void setDelegate(VexlanDownloadDelegate* delegate);

    // Starts the connection thread (once).
    void start();
    // Ends the connection thread: it is told to stop and waited for (at most a few seconds,
    // then left to finish on its own).
    void stop();

    // The status report: every status not yet reported, in order, or else the current one;
    // then a close request while the gateway's configuration asks for one. A JSON array.
    std::string errors();
    // The commands of the logs entry, separated by ";".
    std::string logs();
    // Carries out one command of logs(); unknown commands are logged and ignored.
    void execute(const std::string& command);

private:
    void run();
    void setState(const std::string& state);
    void note(const std::string& line);
    void noteLocked(const std::string& line);  // m_mutex held
    bool waitStopped(std::chrono::milliseconds duration);
    std::string value(const std::string& name) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, std::string> m_settings;
    std::vector<std::string> m_serverNames;
    VexlanDownloadDelegate* m_delegate = nullptr;
    std::thread m_worker;
    bool m_started = false;
    bool m_stopping = false;
    bool m_finished = false;
    std::string m_state;
    std::deque<std::string> m_unreported;  // statuses not yet in a report
    bool m_closing = false;
    int m_closeReason = 0;
    std::chrono::steady_clock::time_point m_closeAt;
    bool m_closeScheduled = false;
    std::deque<std::string> m_log;
    uint64_t m_polls = 0;
};

}  // namespace tunnel
