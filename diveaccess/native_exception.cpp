#include "native_exception.h"

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace diveconnector {

namespace {

std::string describe(const std::string& message, std::optional<std::int32_t> status) {
    char statusText[64] = "-";
    if (status) {
        std::snprintf(statusText, sizeof statusText, "%" PRId64,
                      static_cast<std::int64_t>(*status));
    }
    return std::string("[") + statusText + "]: " + message;
}

}  // namespace

Exception::Exception(std::string message)
    : message_(std::move(message)), description_(describe(message_, std::nullopt)) {}

Exception::Exception(std::string message, std::int32_t status)
    : message_(std::move(message)), status_(status), description_(describe(message_, status)) {}

}  // namespace diveconnector
