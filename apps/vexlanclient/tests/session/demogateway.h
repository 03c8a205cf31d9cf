// The demo gateway (tools/demo-gateway) started by a test on a free loopback port and stopped
// with SIGTERM when the object goes; and a notify that records what the client reports.
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

class DemoGateway {
public:
    DemoGateway(const std::string& scenario, std::vector<std::string> extra = {}) {
        m_log = m_dir.file("requests.jsonl");
        writeFile(m_log, "");
        std::vector<std::string> args = {"python3", VEXLAN_DEMO_GATEWAY, "--build",
                                         VEXLAN_BUILD_DIR, "--scenario", scenario,
                                         "--request-log", m_log};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawnp(&m_pid, "python3", &actions, nullptr, argv.data(), environ) != 0)
            throw std::runtime_error("cannot start the gateway");
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        const std::string prefix = "listening on https://";
        if (line.rfind(prefix, 0) != 0) {
            stop();
            throw std::runtime_error("the gateway did not start: " + line);
        }
        m_authority = line.substr(prefix.size());
        if (!m_authority.empty() && m_authority.back() == '/') m_authority.pop_back();
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
        for (const std::string& line : requests()) n += line.find(fragment) != std::string::npos;
        return n;
    }
    int posts() const { return count("\"method\": \"POST\""); }
    int componentGets() const { return count("\"path\": \"/components/"); }

private:
    void stop() {
        if (m_pid <= 0) return;
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

// Settings file content with certificate exceptions, each also a confirmed gateway (and the
// host checker download flag).
inline std::string settingsXml(const std::vector<std::string>& exceptions, bool download = true) {
    std::string xml = "<vexlanclient><sslcertignoredomains>";
    for (const std::string& e : exceptions) xml += "<domains>" + e + "</domains>";
    xml += "</sslcertignoredomains><confirmedgateways>";
    for (const std::string& e : exceptions) xml += "<gateway>" + e + "</gateway>";
    xml += "</confirmedgateways>";
    if (!download) xml += "<hostcheckerdll><download>false</download></hostcheckerdll>";
    return xml + "</vexlanclient>";
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
                if (e == event) return true;
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
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace vexlan::testing
