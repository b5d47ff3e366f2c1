// Ctrl-C during a download cancels it; outside a download SIGINT stays the JVM's.
//
// Every download holds one scope for its whole duration:
//
//     const InterruptSignalScope signalScope;          // installs onInterruptSignal if first
//     dc_device_set_cancel(device, onCancelQuery, &signalScope);
//     ...                                              // last scope out restores the JVM's handler
//
// The handler only counts signals. A scope remembers the count at its start, so a download is
// cancelled by the signals that arrive while it runs and never by earlier ones; overlapping
// downloads install the handler once and restore it after the last one ends. A signal that no
// cancel query acted on (one after libdivecomputer's last check, while the dives are parsed, the
// device closed or the dives converted) is raised again once the previous handler is back, so the
// JVM still reacts to that Ctrl-C. A process that ignores SIGINT (nohup, background jobs) gets no
// handler at all: its downloads cannot be cancelled by Ctrl-C, as it asked.
//
// Platform-specific: POSIX keeps the whole previous disposition with sigaction (the JVM's handler
// is an SA_SIGINFO one), Windows has only signal().
#pragma once

namespace diveconnector {

class InterruptSignalScope {
  public:
    InterruptSignalScope();
    ~InterruptSignalScope();
    InterruptSignalScope(const InterruptSignalScope&) = delete;
    InterruptSignalScope& operator=(const InterruptSignalScope&) = delete;

    // For libdivecomputer's cancel query: true once SIGINT has arrived since this scope began. The
    // download then cancels, which acts on the signals so far: the last scope does not raise them
    // again.
    [[nodiscard]] bool cancelsDownload() const noexcept;
    // True once SIGINT has arrived since this scope began, whether a cancel query acted on it or
    // not; changes nothing.
    [[nodiscard]] bool signalled() const noexcept;

  private:
    int signalsAtStart_;
};

// Inside a download, while the application waits for the diver to answer (a PIN prompt), Ctrl-C
// is the JVM's again, as outside a download: a blocked read of the diver's answer would not see a
// counted signal, and the diver pressed Ctrl-C to stop.
//
//     const InterruptSignalPause pause;   // for the call that waits; the handler is back after it
class InterruptSignalPause {
  public:
    InterruptSignalPause();
    ~InterruptSignalPause();
    InterruptSignalPause(const InterruptSignalPause&) = delete;
    InterruptSignalPause& operator=(const InterruptSignalPause&) = delete;
};

// The SIGINT handler: counts the signal, nothing else, so it is async-signal-safe.
extern "C" void onInterruptSignal(int signalNumber);

}  // namespace diveconnector
