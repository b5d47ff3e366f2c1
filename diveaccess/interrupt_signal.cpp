#include "interrupt_signal.h"

#include <atomic>
#include <csignal>
#include <mutex>

namespace diveconnector {

namespace {

// Written in signal context: it must be a lock-free atomic.
std::atomic<int> signalCount{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Installation and restoration are rare and never run in signal context; a mutex keeps two
// downloads that start or end together from saving each other's handler as "the previous one".
std::mutex installMutex;
int activeScopes = 0;

#ifdef _WIN32
using Disposition = void (*)(int);
Disposition previousDisposition = SIG_DFL;

void install() {
    previousDisposition = std::signal(SIGINT, onInterruptSignal);
}
void restore() {
    std::signal(SIGINT, previousDisposition);
}
#else
struct sigaction previousDisposition;

void install() {
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousDisposition);
}
void restore() {
    sigaction(SIGINT, &previousDisposition, nullptr);
}
#endif

}  // namespace

extern "C" void onInterruptSignal(int) {
#ifdef _WIN32
    // Windows resets the disposition before calling a handler; without this a second Ctrl-C in
    // the same download would end the process.
    std::signal(SIGINT, onInterruptSignal);
#endif
    signalCount.fetch_add(1, std::memory_order_relaxed);
}

InterruptSignalScope::InterruptSignalScope() {
    const std::lock_guard<std::mutex> lock(installMutex);
    if (activeScopes++ == 0) {
        install();
    }
    signalsAtStart_ = signalCount.load(std::memory_order_relaxed);
}

InterruptSignalScope::~InterruptSignalScope() {
    const std::lock_guard<std::mutex> lock(installMutex);
    if (--activeScopes == 0) {
        restore();
    }
}

bool InterruptSignalScope::signalled() const noexcept {
    return signalCount.load(std::memory_order_relaxed) != signalsAtStart_;
}

}  // namespace diveconnector
