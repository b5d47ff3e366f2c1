// Where the library's words go during one call: its specified lines on standard output, unless
// the application asked for none, and the support log.
//
//     const SupportLog log = SupportLog::open(path, level);
//     const Diagnostics diagnostics(quiet, log);                 // both outlive every user
//     DeviceSession session(name, vendor, product, diagnostics);
//     diagnostics.line(lines::kParsingMaxdepth);
//     diagnostics.log().write(DC_LOGLEVEL_INFO, "...");
//
// Quiet changes nothing but the lines: events, statuses and messages stay the same. Nothing here
// throws, so a diagnostic never turns clean-up into a failure.
#pragma once

#include <cstdint>
#include <string>

#include "support_log.h"

namespace diveconnector {

class Diagnostics {
  public:
    // The log is borrowed.
    Diagnostics(bool quiet, const SupportLog& log) noexcept : quiet_(quiet), log_(log) {}

    // Every line on standard output and no log: what a caller that sets nothing gets.
    [[nodiscard]] static const Diagnostics& standard() noexcept;

    // One line, flushed.
    void line(const char* text) const noexcept;
    // `opening`, the status and ")." as one line, e.g. "Error closing the device (-6).".
    void statusLine(const char* opening, std::int32_t status) const noexcept;
    // One printf-formatted line (the format ends in its newline), flushed at once so that progress
    // shows as it happens, also when standard output is a pipe or a file.
#if defined(__GNUC__) && !defined(__MINGW32__)
    __attribute__((format(printf, 2, 3)))
#endif
    void
    formattedLine(const char* format, ...) const noexcept;

    // The application named a support log at `path` that could not be opened: one line, so the
    // missing log does not pass unnoticed; the call goes on without it. Nothing for "" or an open
    // log.
    void unopenedLog(const std::string& path) const noexcept;

    [[nodiscard]] const SupportLog& log() const noexcept {
        return log_;
    }

  private:
    bool quiet_;
    const SupportLog& log_;
};

}  // namespace diveconnector
