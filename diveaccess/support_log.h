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
// A new file is readable and writable by the user only. libdivecomputer holds the address of an
// attached log's state, which moves with it, so the context must be freed before the log goes.
//
// The secrets of a pairing BLE computer never reach the file: once the download learns the PIN or
// an access code (maskPin, maskAccessCode), every later line has them masked (see SecretMask).
// libdivecomputer logs the computer's new access code (in the answer to the PIN and in the buffer
// it stores) before the library is given it, so from maskPin until maskAccessCode lines are held
// back in memory. A pairing that never ends lets them go when the log is closed, masked, and with
// the data of every buffer they dump blanked, since it may hold a code the library never learnt.
#pragma once

#include <libdivecomputer/context.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform_files.h"
#include "secret_mask.h"

namespace diveconnector {

class SupportLog {
  public:
    SupportLog() noexcept;
    ~SupportLog();
    SupportLog(SupportLog&&) noexcept;
    SupportLog& operator=(SupportLog&&) noexcept;

    // Appends to the file at the UTF-8 `path` ("" for no log) the messages up to the level named
    // by `levelName` (error, warning, info, debug or all, in any case; "" for info). An unknown
    // name logs at info and says so in the log.
    [[nodiscard]] static SupportLog open(const std::string& path, const std::string& levelName);

    [[nodiscard]] bool isOpen() const noexcept { return state_ != nullptr; }

    // Routes libdivecomputer's log for the context here, at this log's level. Without an open
    // log, or when libdivecomputer refuses the handler, the context logs nothing at all.
    void attach(dc_context_t* context) const noexcept;

    // One line of the library's own, if `level` is within the log's level.
#if defined(__GNUC__) && !defined(__MINGW32__)
    __attribute__((format(printf, 3, 4)))
#endif
    void
    write(dc_loglevel_t level, const char* format, ...) const noexcept;

    // The PIN given to a pairing computer: masked from here on, and lines are held back until
    // the access code it brings is known.
    void maskPin(const std::string& pin) const noexcept;
    // An access code read from or handed to the store: masked from here on, held lines go out.
    void maskAccessCode(const unsigned char* code, std::size_t size) const noexcept;

  private:
    struct State;

    static void onLibraryLog(dc_context_t* context, dc_loglevel_t level, const char* file,
                             unsigned int line, const char* function, const char* message,
                             void* state) noexcept;

    // Null when the log logs nothing.
    std::unique_ptr<State> state_;
};

// The level a name stands for: error, warning, info, debug, all (any case); nullopt otherwise.
[[nodiscard]] std::optional<dc_loglevel_t> logLevelNamed(const std::string& name) noexcept;

}  // namespace diveconnector
