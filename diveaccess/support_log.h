// The log a download appends for support: libdivecomputer's own log and the library's reasons for
// a failure that the fixed messages cannot carry. One line per message, with a UTC timestamp and
// the level:
//
//     2026-12-08T21:49:20.123Z INFO diveconnector: Opening serial port "/dev/ttyUSB0" ...
//     2026-12-08T21:49:21.456Z ERROR libdivecomputer: Failed to receive the answer. [in ...]
//
//     SupportLog log = SupportLog::open(path, levelName);   // SupportLog() logs nothing
//     log.attach(context);                                  // libdivecomputer's log goes there
//     log.write(DC_LOGLEVEL_INFO, "Opening serial port \"%s\".", name);
//
// Nothing of it ever reaches standard output or standard error. A file that cannot be opened
// gives a log that drops every message: the log is a help, never a reason for a download to fail.
// libdivecomputer holds the address of an attached log, so it stays put until the context is
// freed.
#pragma once

#include <libdivecomputer/context.h>

#include <optional>
#include <string>

#include "platform_files.h"

namespace diveconnector {

class SupportLog {
  public:
    SupportLog() noexcept = default;
    SupportLog(SupportLog&&) noexcept = default;
    SupportLog& operator=(SupportLog&&) noexcept = default;

    // Appends to the file at the UTF-8 `path` ("" for no log) the messages up to the level named
    // by `levelName` (error, warning, info, debug or all, in any case; "" for info). An unknown
    // name logs at info and says so in the log.
    [[nodiscard]] static SupportLog open(const std::string& path, const std::string& levelName);

    [[nodiscard]] bool isOpen() const noexcept { return file_ != nullptr; }

    // Routes libdivecomputer's log for the context here, at this log's level. Without an open
    // log, or when libdivecomputer refuses the handler, the context logs nothing at all.
    void attach(dc_context_t* context) const noexcept;

    // One line of the library's own, if `level` is within the log's level.
#if defined(__GNUC__) && !defined(__MINGW32__)
    __attribute__((format(printf, 3, 4)))
#endif
    void
    write(dc_loglevel_t level, const char* format, ...) const noexcept;

  private:
    void append(dc_loglevel_t level, const char* origin, const char* message,
                const char* location) const noexcept;
    static void onLibraryLog(dc_context_t* context, dc_loglevel_t level, const char* file,
                             unsigned int line, const char* function, const char* message,
                             void* log) noexcept;

    FileHandle file_;
    dc_loglevel_t level_ = DC_LOGLEVEL_NONE;
};

// The level a name stands for: error, warning, info, debug, all (any case); nullopt otherwise.
[[nodiscard]] std::optional<dc_loglevel_t> logLevelNamed(const std::string& name) noexcept;

}  // namespace diveconnector
