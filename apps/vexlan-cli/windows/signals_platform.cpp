// Console events for vexlan-cli on Windows: the system calls the control handler on a thread of
// its own; the handler only queues the event, and the watcher thread calls the program's
// handler, as on POSIX systems. Ctrl-C is an interrupt, Ctrl-Break asks for the logs, and
// closing the console, logging off or shutting down is a termination.
#include "vexlan-cli/signals.h"

#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace vexlancli {

struct SignalWatcher::State {
    std::mutex lock;  // held while the handler runs
    std::function<void(Signal)> handler;
    bool closed = false;
    std::mutex queueLock;
    std::condition_variable queued;
    std::deque<Signal> events;
};

namespace {

// The one watcher of the process: the control handler has no argument to find it by. Kept
// alive for good once made, like the watcher thread.
std::shared_ptr<SignalWatcher::State>* g_state = nullptr;

void post(Signal signal) {
    SignalWatcher::State& state = **g_state;
    {
        std::lock_guard<std::mutex> guard(state.queueLock);
        state.events.push_back(signal);
    }
    state.queued.notify_one();
}

BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            post(Signal::Interrupt);
            return TRUE;
        case CTRL_BREAK_EVENT:
            post(Signal::Logs);
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            post(Signal::Terminate);
            // The system ends the process when this returns: the session's end runs on the
            // watcher thread and the program exits with its own status meanwhile (within the
            // system's grace period).
            Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

SignalWatcher::SignalWatcher() : m_state(std::make_shared<State>()) {
    g_state = new std::shared_ptr<State>(m_state);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

SignalWatcher::~SignalWatcher() {
    close();
}

void SignalWatcher::start(std::function<void(Signal)> handler) {
    {
        std::lock_guard<std::mutex> guard(m_state->lock);
        m_state->handler = std::move(handler);
    }
    // The thread shares the state and is never joined: it waits for events until the process
    // ends, and does nothing once the watcher is closed. Events that came before start wait
    // in the queue.
    std::shared_ptr<State> state = m_state;
    std::thread([state] {
        for (;;) {
            Signal signal;
            {
                std::unique_lock<std::mutex> queue(state->queueLock);
                state->queued.wait(queue, [&] { return !state->events.empty(); });
                signal = state->events.front();
                state->events.pop_front();
            }
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
