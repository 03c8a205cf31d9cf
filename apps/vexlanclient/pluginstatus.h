// The status reports of a tunnel plugin: what "DllGetErrors2" returns at each poll, a JSON
// array of entries {"code": 5, "status": TEXT} (a status for the user) and {"code": 8,
// "reason": N} (the plugin asks to close). PluginStatusProcessor turns one poll's report into
// the sub-client's actions and keeps the state that spans polls.
//
// Threads: one processor belongs to one sub-client and is used on its client thread only.
#pragma once

#include <cstdint>

#include "base/string.h"

namespace vexlan {

// What a report can ask of the tunnel sub-client.
class IPluginStatusListener {
public:
    // A status text for the user; the empty text once the plugin stopped reporting one.
    virtual void message(const tessel::String& text) = 0;
    // The plugin asks to close.
    virtual void stop() = 0;
    virtual ~IPluginStatusListener() = default;
};

class PluginStatusProcessor {
public:
    static constexpr uint32_t kPollMilliseconds = 500;
    // How long a close request of a reason other than 1, 2 and 4 must be repeated, at one
    // entry per poll, before it is granted.
    static constexpr uint32_t kCloseDelayMilliseconds = 3000;

    // Processes one poll's report, in entry order:
    // - code 5: message(status); a status has now been reported;
    // - code 8 with reason 1, 2 or 4: stop(); with any other reason the entry is counted, and
    //   stop() follows once kCloseDelayMilliseconds / kPollMilliseconds entries were counted
    //   in consecutive polls;
    // - other codes: nothing ("code" is read as text, then as a decimal number; absent: 0).
    // Then a count of close requests is cancelled ("closeRequest canceled") by a poll that
    // carries none, and once a status was reported, a poll without one gives message("").
    // A report that cannot be read (not JSON, texts of the wrong kind) is logged and ends
    // this poll's processing; nothing is raised.
    void process(const tessel::String& report, IPluginStatusListener& listener);

    // Close-request entries counted in the current run of consecutive polls.
    uint32_t closeRequests() const { return m_closeRequests; }
    bool statusReported() const { return m_statusReported; }

private:
    void processEntries(const tessel::String& report, IPluginStatusListener& listener);

    uint32_t m_closeRequests = 0;
    bool m_statusReported = false;
};

}  // namespace vexlan
