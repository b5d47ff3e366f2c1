#include "log_file.h"

namespace diveconnector {

LogFile openLogFile(const char* utf8Path) noexcept {
    return LogFile(std::fopen(utf8Path, "ab"));
}

}  // namespace diveconnector
