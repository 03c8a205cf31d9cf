// The signals vexlan-cli reacts to, delivered to a handler on a thread of their own (never
// inside a signal handler), and the immediate exit used before a session exists.
#pragma once

#include <functional>
#include <memory>

namespace vexlancli {

enum class Signal {
    Interrupt,  // SIGINT
    Terminate,  // SIGTERM
    Logs,       // SIGUSR1
};

// Construct it first in main, before any other thread exists: it blocks the three signals in
// the calling thread, so every thread started later inherits the block and only the watcher
// receives them. start() runs the watcher thread, which calls `handler` once per signal, one
// call at a time. close() waits for a call in progress and makes later signals do nothing;
// after it the objects the handler uses may go.
class SignalWatcher {
public:
    SignalWatcher();
    ~SignalWatcher();
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    void start(std::function<void(Signal)> handler);
    void close();

    struct State;

private:
    std::shared_ptr<State> m_state;
};

// Ends the process at once with `status`: standard streams flushed, no destructors run.
[[noreturn]] void exitNow(int status);

}  // namespace vexlancli
