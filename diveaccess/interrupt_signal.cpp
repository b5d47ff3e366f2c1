#include "interrupt_signal.h"

#include <atomic>
#include <csignal>
#include <mutex>

namespace diveconnector {

namespace {

// Written in signal context: it must be a lock-free atomic.
std::atomic<int> signalCount{0};
static_assert(std::atomic<int>::is_always_lock_free);
// The count up to which the signals are dealt with: acted on by a cancel query, or raised again
// (or left) when the last scope ended.
std::atomic<int> signalsDealtWith{0};

// Installation and restoration are rare and never run in signal context; a mutex keeps two
// downloads that start or end together from saving each other's handler as "the previous one".
std::mutex installMutex;
int activeScopes = 0;
// Whether the first of the active scopes installed the handler: not when SIGINT was ignored.
bool handlerInstalled = false;
int activePauses = 0;

#ifdef _WIN32
using Disposition = void (*)(int);
Disposition previousDisposition = SIG_DFL;

bool install() {
    // signal() cannot read the disposition without replacing it: an ignored SIGINT is put back.
    previousDisposition = std::signal(SIGINT, onInterruptSignal);
    if (previousDisposition == SIG_IGN) {
        std::signal(SIGINT, SIG_IGN);
        return false;
    }
    return true;
}
void restore() {
    std::signal(SIGINT, previousDisposition);
}
#else
struct sigaction previousDisposition;

bool install() {
    sigaction(SIGINT, nullptr, &previousDisposition);
    if (previousDisposition.sa_handler == SIG_IGN) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    return true;
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
        handlerInstalled = install();
    }
    signalsAtStart_ = signalCount.load(std::memory_order_relaxed);
}

InterruptSignalScope::~InterruptSignalScope() {
    const std::lock_guard<std::mutex> lock(installMutex);
    if (--activeScopes > 0) {
        return;
    }
    if (handlerInstalled) {
        restore();
    }
    const int arrived = signalCount.load(std::memory_order_relaxed);
    const bool pending = signalsDealtWith.exchange(arrived, std::memory_order_relaxed) != arrived;
    // Raised under the lock, so a download starting now cannot take the signal for itself.
    if (handlerInstalled && pending) {
        std::raise(SIGINT);
    }
}

InterruptSignalPause::InterruptSignalPause() {
    const std::lock_guard<std::mutex> lock(installMutex);
    if (activePauses++ == 0 && handlerInstalled) {
        restore();
    }
}

InterruptSignalPause::~InterruptSignalPause() {
    const std::lock_guard<std::mutex> lock(installMutex);
    if (--activePauses == 0 && handlerInstalled) {
        handlerInstalled = install();
    }
}

bool InterruptSignalScope::signalled() const noexcept {
    return signalCount.load(std::memory_order_relaxed) != signalsAtStart_;
}

bool InterruptSignalScope::cancelsDownload() const noexcept {
    const int arrived = signalCount.load(std::memory_order_relaxed);
    if (arrived == signalsAtStart_) {
        return false;
    }
    int dealtWith = signalsDealtWith.load(std::memory_order_relaxed);
    while (dealtWith < arrived &&
           !signalsDealtWith.compare_exchange_weak(dealtWith, arrived, std::memory_order_relaxed)) {
    }
    return true;
}

}  // namespace diveconnector
