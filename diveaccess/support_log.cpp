#include "support_log.h"

#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace diveconnector {

namespace {

constexpr const char* kLevelNames[] = {"NONE", "ERROR", "WARNING", "INFO", "DEBUG", "ALL"};

// "YYYY-MM-DDThh:mm:ss.mmmZ" for milliseconds since the epoch. The calendar arithmetic is done
// here: the C library's gmtime is not thread-safe and its thread-safe forms are platform calls.
std::string utcTimestamp(std::int64_t millis) {
    std::int64_t seconds = millis / 1000;
    std::int64_t milli = millis % 1000;
    if (milli < 0) {
        milli += 1000;
        --seconds;
    }
    std::int64_t days = seconds / 86400;
    std::int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    // Days to a civil date in the proleptic Gregorian calendar (eras of 400 years from 0000-03-01).
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const std::int64_t dayOfEra = shifted - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char text[64];
    std::snprintf(text, sizeof text,
                  "%04" PRId64 "-%02" PRId64 "-%02" PRId64 "T%02" PRId64 ":%02" PRId64 ":%02" PRId64
                  ".%03" PRId64 "Z",
                  year, month, day, secondOfDay / 3600, secondOfDay / 60 % 60, secondOfDay % 60,
                  milli);
    return text;
}

std::int64_t nowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::optional<dc_loglevel_t> logLevelNamed(const std::string& name) noexcept {
    for (int level = DC_LOGLEVEL_ERROR; level <= DC_LOGLEVEL_ALL; ++level) {
        const std::string expected = kLevelNames[level];
        bool same = expected.size() == name.size();
        for (size_t i = 0; same && i < name.size(); ++i) {
            same = std::toupper(static_cast<unsigned char>(name[i])) == expected[i];
        }
        if (same) {
            return static_cast<dc_loglevel_t>(level);
        }
    }
    return std::nullopt;
}

SupportLog SupportLog::open(const std::string& path, const std::string& levelName) {
    SupportLog log;
    if (path.empty()) {
        return log;
    }
    log.file_ = openFileForAppending(path);
    const std::optional<dc_loglevel_t> level =
        levelName.empty() ? DC_LOGLEVEL_INFO : logLevelNamed(levelName);
    log.level_ = level.value_or(DC_LOGLEVEL_INFO);
    if (!level) {
        log.write(DC_LOGLEVEL_WARNING, "Unknown log level \"%s\"; logging at info.",
                  levelName.c_str());
    }
    return log;
}

void SupportLog::attach(dc_context_t* context) const noexcept {
    if (isOpen() &&
        dc_context_set_logfunc(context, onLibraryLog, const_cast<SupportLog*>(this)) ==
            DC_STATUS_SUCCESS &&
        dc_context_set_loglevel(context, level_) == DC_STATUS_SUCCESS) {
        return;
    }
    // libdivecomputer's own handler writes to standard error, device names included.
    static_cast<void>(dc_context_set_loglevel(context, DC_LOGLEVEL_NONE));
}

void SupportLog::write(dc_loglevel_t level, const char* format, ...) const noexcept {
    if (!isOpen() || level > level_) {
        return;
    }
    char message[1024];
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    append(level, "diveconnector", message, nullptr);
}

void SupportLog::onLibraryLog(dc_context_t*, dc_loglevel_t level, const char* file,
                              unsigned int line, const char* function, const char* message,
                              void* log) noexcept {
    const auto& self = *static_cast<const SupportLog*>(log);
    if (level > self.level_ || level <= DC_LOGLEVEL_NONE || level > DC_LOGLEVEL_ALL) {
        return;
    }
    char location[512] = "";
    // As libdivecomputer's own handler: where an error or a warning was raised.
    if ((level == DC_LOGLEVEL_ERROR || level == DC_LOGLEVEL_WARNING) && file != nullptr) {
        std::snprintf(location, sizeof location, " [in %s:%u (%s)]", file, line,
                      function != nullptr ? function : "?");
    }
    self.append(level, "libdivecomputer", message != nullptr ? message : "", location);
}

void SupportLog::append(dc_loglevel_t level, const char* origin, const char* message,
                        const char* location) const noexcept {
    try {
        std::string line = utcTimestamp(nowMillis());
        line += ' ';
        line += kLevelNames[level];
        line += ' ';
        line += origin;
        line += ": ";
        for (const char* c = message; *c != '\0'; ++c) {
            // One message, one line, whatever it holds.
            line += (*c == '\n' || *c == '\r') ? ' ' : *c;
        }
        if (location != nullptr) {
            line += location;
        }
        line += '\n';
        // One write per line, so downloads appending to the same file at once keep their lines
        // whole.
        std::fwrite(line.data(), 1, line.size(), file_.get());
        std::fflush(file_.get());
    } catch (...) {
        // No memory for the line: the log is a help, the download goes on without it.
    }
}

}  // namespace diveconnector
