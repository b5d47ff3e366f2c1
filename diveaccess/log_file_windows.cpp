#include <windows.h>

#include <string>

#include "log_file.h"

namespace diveconnector {

LogFile openLogFile(const char* utf8Path) noexcept {
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Path, -1, nullptr, 0);
    if (length <= 0) {
        return nullptr;
    }
    try {
        std::wstring widePath(static_cast<size_t>(length), L'\0');
        if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Path, -1, widePath.data(),
                                length) != length) {
            return nullptr;
        }
        return LogFile(_wfopen(widePath.c_str(), L"ab"));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace diveconnector
