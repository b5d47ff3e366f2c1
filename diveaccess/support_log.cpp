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

// libdivecomputer dumps a buffer as "...: size=N, data=" and its bytes in hexadecimal.
std::string withoutBufferData(std::string line) {
    const std::size_t data = line.find("data=");
    if (data != std::string::npos) {
        for (std::size_t i = data + 5;
             i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i) {
            line[i] = '*';
        }
    }
    return line;
}

// Far more than the dozen lines of a pairing, still a bound on what memory holds.
constexpr std::size_t kMostHeldLines = 4096;

}  // namespace

struct SupportLog::State {
    FileHandle file;
    dc_loglevel_t level = DC_LOGLEVEL_INFO;
    SecretMask mask;
    bool holding = false;
    std::vector<std::string> held;
    std::size_t dropped = 0;

    State(FileHandle opened, dc_loglevel_t levelToLog)
        : file(std::move(opened)), level(levelToLog) {}
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() { release(false); }

    void append(dc_loglevel_t lineLevel, const char* origin, const char* message,
                const char* location) noexcept;
    void put(const std::string& line) noexcept;
    // Writes the held lines. Without the computer's access code (a pairing that never ended),
    // the buffers they dump may still carry it, so their data is blanked whole.
    void release(bool codeKnown) noexcept;
};

void SupportLog::State::append(dc_loglevel_t lineLevel, const char* origin, const char* message,
                               const char* location) noexcept {
    try {
        std::string line = utcTimestamp(nowMillis());
        line += ' ';
        line += kLevelNames[lineLevel];
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
        if (!holding) {
            put(mask.masked(std::move(line)));
        } else if (held.size() < kMostHeldLines) {
            held.push_back(std::move(line));
        } else {
            ++dropped;
        }
    } catch (...) {
        // No memory for the line: the log is a help, the download goes on without it.
    }
}

void SupportLog::State::put(const std::string& line) noexcept {
    if (!file) {
        return;
    }
    // One write per line, so downloads appending to the same file at once keep their lines whole.
    std::fwrite(line.data(), 1, line.size(), file.get());
    std::fflush(file.get());
}

void SupportLog::State::release(bool codeKnown) noexcept {
    holding = false;
    try {
        for (std::string& line : held) {
            put(mask.masked(codeKnown ? std::move(line) : withoutBufferData(std::move(line))));
        }
        held.clear();
        if (dropped > 0) {
            char note[128];
            std::snprintf(note, sizeof note,
                          "%s WARNING diveconnector: %u lines of the pairing were dropped.\n",
                          utcTimestamp(nowMillis()).c_str(), static_cast<unsigned int>(dropped));
            put(note);
            dropped = 0;
        }
    } catch (...) {
        // No memory to mask a line: it is not written.
        held.clear();
    }
}

SupportLog::SupportLog() noexcept = default;
SupportLog::~SupportLog() = default;
SupportLog::SupportLog(SupportLog&&) noexcept = default;
SupportLog& SupportLog::operator=(SupportLog&&) noexcept = default;

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
    FileHandle file = openFileForAppending(path);
    if (!file) {
        return log;
    }
    const std::optional<dc_loglevel_t> level =
        levelName.empty() ? DC_LOGLEVEL_INFO : logLevelNamed(levelName);
    log.state_ = std::make_unique<State>(std::move(file), level.value_or(DC_LOGLEVEL_INFO));
    if (!level) {
        log.write(DC_LOGLEVEL_WARNING, "Unknown log level \"%s\"; logging at info.",
                  levelName.c_str());
    }
    return log;
}

void SupportLog::attach(dc_context_t* context) const noexcept {
    if (isOpen() &&
        dc_context_set_logfunc(context, onLibraryLog, state_.get()) == DC_STATUS_SUCCESS &&
        dc_context_set_loglevel(context, state_->level) == DC_STATUS_SUCCESS) {
        return;
    }
    // libdivecomputer's own handler writes to standard error, device names included.
    static_cast<void>(dc_context_set_loglevel(context, DC_LOGLEVEL_NONE));
}

void SupportLog::write(dc_loglevel_t level, const char* format, ...) const noexcept {
    if (!isOpen() || level > state_->level) {
        return;
    }
    char message[1024];
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    state_->append(level, "diveconnector", message, nullptr);
}

void SupportLog::maskPin(const std::string& pin) const noexcept {
    if (!isOpen()) {
        return;
    }
    try {
        state_->mask.addPin(pin);
        state_->holding = true;
    } catch (...) {
        // Without memory to remember the PIN, nothing more is written: it must not leak.
        state_->file.reset();
    }
}

void SupportLog::maskAccessCode(const unsigned char* code, std::size_t size) const noexcept {
    if (!isOpen()) {
        return;
    }
    try {
        state_->mask.addBytes(code, size);
        state_->release(true);
    } catch (...) {
        state_->file.reset();
    }
}

void SupportLog::onLibraryLog(dc_context_t*, dc_loglevel_t level, const char* file,
                              unsigned int line, const char* function, const char* message,
                              void* state) noexcept {
    auto& self = *static_cast<State*>(state);
    if (level > self.level || level <= DC_LOGLEVEL_NONE || level > DC_LOGLEVEL_ALL) {
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

}  // namespace diveconnector
