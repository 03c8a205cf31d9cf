// Console events for vexlan-cli on Windows: the system calls the control handler on a thread of
// its own; the handler only queues the event, and the watcher thread takes it from the queue.
// Ctrl-C is an interrupt, Ctrl-Break asks for the logs, and closing the console, logging off
// or shutting down is a termination.
#include "vexlan-cli/signals_platform.h"

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace vexlancli {
namespace detail {
namespace {

// The events of the process: the control handler has no argument to find a watcher by.
struct EventQueue {
    std::mutex lock;
    std::condition_variable queued;
    std::deque<Signal> events;
};

// Kept alive for good once made, like the watcher thread that waits on it.
EventQueue& eventQueue() {
    static EventQueue* queue = new EventQueue();
    return *queue;
}

void post(Signal signal) {
    EventQueue& queue = eventQueue();
    {
        std::lock_guard<std::mutex> guard(queue.lock);
        queue.events.push_back(signal);
    }
    queue.queued.notify_one();
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

void watchSignals() {
    eventQueue();  // made before the handler can run
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

// Events that came before the watcher thread started wait in the queue.
Signal waitForSignal() {
    EventQueue& queue = eventQueue();
    std::unique_lock<std::mutex> guard(queue.lock);
    queue.queued.wait(guard, [&] { return !queue.events.empty(); });
    Signal signal = queue.events.front();
    queue.events.pop_front();
    return signal;
}

}  // namespace detail
}  // namespace vexlancli
