// The signal watcher's thread: it takes each signal from the system's delivery and calls the
// program's handler, one call at a time, until the watcher is closed.
#include "vexlan-cli/signals.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "vexlan-cli/signals_platform.h"

namespace vexlancli {

struct SignalWatcher::State {
    std::mutex lock;  // held while the handler runs
    std::function<void(Signal)> handler;
    bool closed = false;
};

SignalWatcher::SignalWatcher() : m_state(std::make_shared<State>()) {
    detail::watchSignals();
}

SignalWatcher::~SignalWatcher() {
    close();
}

void SignalWatcher::start(std::function<void(Signal)> handler) {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->handler = std::move(handler);
    }
    // The thread shares the state and is never joined: it waits for signals until the process
    // ends, and does nothing once the watcher is closed.
    std::shared_ptr<State> state = m_state;
    std::thread([state] {
        for (;;) {
            Signal signal = detail::waitForSignal();
            std::lock_guard<std::mutex> guard(state->lock);
            if (state->closed)
                continue;
            if (state->handler)
                state->handler(signal);
        }
    }).detach();
}

void SignalWatcher::close() {
    std::lock_guard<std::mutex> guard(m_state->lock);
    m_state->closed = true;
    m_state->handler = nullptr;
}

void exitNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace vexlancli
