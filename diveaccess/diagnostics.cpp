#include "diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <iostream>

namespace diveconnector {

const Diagnostics& Diagnostics::standard() noexcept {
    static const SupportLog noLog;
    static const Diagnostics diagnostics(false, noLog);
    return diagnostics;
}

void Diagnostics::line(const char* text) const noexcept {
    if (quiet_) {
        return;
    }
    try {
        std::cout << text << std::endl;
    } catch (...) {
        // std::cout only throws when the application enabled stream exceptions; the line is lost,
        // the download is not.
    }
}

void Diagnostics::statusLine(const char* opening, std::int32_t status) const noexcept {
    if (quiet_) {
        return;
    }
    try {
        std::cout << opening << status << ")." << std::endl;
    } catch (...) {
        // As in line().
    }
}

void Diagnostics::formattedLine(const char* format, ...) const noexcept {
    if (quiet_) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

void Diagnostics::unopenedLog(const std::string& path) const noexcept {
    if (!path.empty() && !log_.isOpen()) {
        formattedLine("Cannot open the support log \"%s\"; nothing is logged.\n", path.c_str());
    }
}

}  // namespace diveconnector
