// The demo gateway (tools/demo-gateway) started by a test on a free loopback port through the
// test harness and stopped with SIGTERM when the object goes; the settings that trust it; and
// a notify that records what the client reports.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/string.h"
#include "http/requestinfo.h"
#include "sandbox.h"
#include "vexlanclient/notify.h"

extern char** environ;

namespace vexlan::testing {

// Runs tools/demo-gateway/harness.py with `args`, its standard output going to `stdoutFd`
// (-1: this process's); returns its process id.
inline pid_t spawnHarness(const std::vector<std::string>& args, int stdoutFd = -1,
                          int closeFd = -1) {
    std::vector<std::string> command = {"python3", VEXLAN_DEMO_GATEWAY_HARNESS};
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : command)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    if (closeFd >= 0)
        posix_spawn_file_actions_addclose(&actions, closeFd);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        throw std::runtime_error("cannot start " VEXLAN_DEMO_GATEWAY_HARNESS);
    return pid;
}

class DemoGateway {
public:
    DemoGateway(const std::string& scenario, std::vector<std::string> extra = {}) {
        m_log = m_dir.file("requests.jsonl");
        writeFile(m_log, "");
        std::vector<std::string> args = {
            "serve", "--build", VEXLAN_BUILD_DIR, "--scenario", scenario, "--request-log", m_log};
        args.insert(args.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe(out) != 0)
            throw std::runtime_error("pipe");
        try {
            m_pid = spawnHarness(args, out[1], out[0]);
        } catch (...) {
            close(out[0]);
            close(out[1]);
            throw;
        }
        close(out[1]);
        // The harness prints the gateway's authority alone once it is ready.
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n')
            m_authority += c;
        close(out[0]);
        if (m_authority.empty()) {
            stop();
            throw std::runtime_error("the gateway did not start");
        }
        m_port = std::stoi(m_authority.substr(m_authority.rfind(':') + 1));
    }
    ~DemoGateway() { stop(); }
    DemoGateway(const DemoGateway&) = delete;
    DemoGateway& operator=(const DemoGateway&) = delete;

    const std::string& authority() const { return m_authority; }
    int port() const { return m_port; }
    // The request log, one JSON text per request.
    std::vector<std::string> requests() const {
        std::vector<std::string> lines;
        std::string text = readFile(m_log);
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    int count(const std::string& fragment) const {
        int n = 0;
        for (const std::string& line : requests())
            n += line.find(fragment) != std::string::npos;
        return n;
    }
    int posts() const { return count("\"method\": \"POST\""); }
    int componentGets() const { return count("\"path\": \"/components/"); }

private:
    void stop() {
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = 0;
    }

    TempDir m_dir;
    std::string m_log;
    pid_t m_pid = 0;
    std::string m_authority;
    int m_port = 0;
};

// Whether the settings list the gateway among those the user has confirmed.
enum class Confirmed { kYes, kNo };

// Writes the settings file of the sandbox `home` (through the harness, which owns its format):
// `authority` is a certificate exception, for the gateway's self-signed certificate, and
// a confirmed gateway unless `confirmed` says no.
inline void writeTrustingSettings(const std::string& home, const std::string& authority,
                                  Confirmed confirmed = Confirmed::kYes) {
    std::vector<std::string> args = {"settings", home, authority};
    if (confirmed == Confirmed::kNo)
        args.push_back("--unconfirmed");
    int status = 0;
    if (waitpid(spawnHarness(args), &status, 0) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        throw std::runtime_error("cannot write the settings for " + authority);
}

// Records every notification as a line ("status 5", "sessionType 3", "mediationFailed ",
// "connectionFailed <text>") and lets a test wait for one.
class RecordingNotify : public IVexlanClientNotify {
public:
    void connectionFailed(tessel::http::IRequestInfo& info) override {
        add("connectionFailed " + info.toString().toStd());
    }
    void mediationFailed(const tessel::String& message) override {
        add("mediationFailed " + message.toStd());
    }
    void statusChanged(const int& status) override { add("status " + std::to_string(status)); }
    void message(const tessel::String& text) override { add("message " + text.toStd()); }
    void sessionType(int type) override { add("sessionType " + std::to_string(type)); }

    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events;
    }
    // Waits until `event` was recorded (false after a generous safety deadline).
    bool waitFor(const std::string& event) {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(120), [&] {
            for (const std::string& e : m_events)
                if (e == event)
                    return true;
            return false;
        });
    }

private:
    void add(const std::string& event) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.push_back(event);
        m_changed.notify_all();
    }
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::string> m_events;
};

// Polls `condition` until it holds (false after a generous safety deadline).
inline bool eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace vexlan::testing
