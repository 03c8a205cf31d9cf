// Signal delivery for vexlan-cli on POSIX systems: the signals stay blocked in every thread
// and one thread takes them with sigwait.
#include "vexlan-cli/signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <thread>

namespace vexlancli {

struct SignalWatcher::State {
    std::mutex lock;  // held while the handler runs
    std::function<void(Signal)> handler;
    bool closed = false;
};

namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

}  // namespace

SignalWatcher::SignalWatcher() : m_state(std::make_shared<State>()) {
    sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalWatcher::~SignalWatcher() {
    close();
}

void SignalWatcher::start(std::function<void(Signal)> handler) {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->handler = std::move(handler);
    }
    // The thread shares the state and is never joined: it waits in sigwait until the process
    // ends, and does nothing once the watcher is closed.
    std::shared_ptr<State> state = m_state;
    std::thread([state] {
        sigset_t set = watchedSignals();
        for (;;) {
            int number = 0;
            if (sigwait(&set, &number) != 0)
                continue;
            Signal signal = number == SIGINT    ? Signal::Interrupt
                            : number == SIGTERM ? Signal::Terminate
                                                : Signal::Logs;
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
    _exit(status);
}

}  // namespace vexlancli
