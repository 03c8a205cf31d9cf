// The pieces of vexlan-cli that do not touch the system: the command line, the notification
// lines on standard error and the exit status of a session.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "http/curlsession.h"
#include "vexlanclient/notify.h"
#include "zlib/zip.h"

namespace vexlancli {

// Exit statuses.
constexpr int kExitSessionOver = 0;       // the session ended (status 4)
constexpr int kExitConnectionFailed = 2;  // the gateway could not be reached
constexpr int kExitRunFailed = 3;         // refusal, bad reply, bad signature, load error...
constexpr int kExitUsage = 64;
constexpr int kExitInterrupted = 130;  // SIGINT
constexpr int kExitTerminated = 143;   // SIGTERM

struct Options {
    uint32_t connectTimeout = 30;  // seconds to connect
    uint32_t stallTimeout = 60;    // seconds a transfer may stall
    uint64_t maxDownload = tessel::http::CurlSession::kDefaultMaxDownload;  // bytes per download
    // What one component archive may unpack to: bytes, and entries.
    uint64_t maxUnpacked = tessel::zlib::UnpackLimits::kDefaultMaxBytes;
    uint32_t maxEntries = tessel::zlib::UnpackLimits::kDefaultMaxEntries;
    std::string startParameter;
};

// Reads the arguments (argv[1..]). Returns -1 when a session is to run (`options` filled);
// otherwise the exit status, after printing the help or the version on `out`, or the error
// and the usage on `err`.
int parseArguments(int argc, const char* const* argv, Options& options, FILE* out, FILE* err);

// The text of a status value ("host checking" for 5), empty for an unknown value.
const char* statusMeaning(int status);

// Writes each notification as one line "KIND: TEXT" on `stream` and remembers how the run
// ended. Safe from any thread.
class LineNotify : public vexlan::IVexlanClientNotify {
public:
    explicit LineNotify(FILE* stream) : m_stream(stream) {}

    void connectionFailed(tessel::http::IRequestInfo& info) override;
    void mediationFailed(const tessel::String& message) override;
    void statusChanged(const int& status) override;
    // A plugin repeats its status at every poll: a text equal to the previous one is not
    // written again.
    void message(const tessel::String& text) override;
    void sessionType(int type) override;

    // The exit status the notifications so far call for: kExitSessionOver after status 4,
    // kExitConnectionFailed, kExitRunFailed after a failure or when the run reported nothing.
    int exitStatus() const;

private:
    void line(const char* kind, const std::string& text);

    FILE* m_stream;
    std::mutex m_lock;
    std::atomic<int> m_outcome{-1};
    std::string m_lastMessage;  // guarded by m_lock
    bool m_anyMessage = false;  // guarded by m_lock
};

}  // namespace vexlancli
