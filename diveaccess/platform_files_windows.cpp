#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "platform_files.h"

namespace diveconnector {

namespace {

// The UTF-16 path Windows' wide calls take; empty when the text is not UTF-8.
std::wstring widePath(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                           static_cast<int>(path.size()), nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                        wide.data(), length);
    return wide;
}

// A C file by its UTF-8 path; null on any failure.
FileHandle openFile(const std::string& path, const wchar_t* mode) noexcept {
    try {
        const std::wstring wide = widePath(path);
        return FileHandle(wide.empty() ? nullptr : _wfopen(wide.c_str(), mode));
    } catch (...) {
        return nullptr;
    }
}

struct HandleClose {
    void operator()(HANDLE handle) const noexcept { CloseHandle(handle); }
};

}  // namespace

DirectoryCreation makeUserDirectory(const std::string& path) noexcept {
    try {
        const std::wstring wide = widePath(path);
        if (wide.empty()) {
            return DirectoryCreation::kFailed;
        }
        // The default security of a new directory under the user's profile is the user's alone.
        if (CreateDirectoryW(wide.c_str(), nullptr)) {
            return DirectoryCreation::kCreated;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND) {
            return DirectoryCreation::kParentMissing;
        }
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return DirectoryCreation::kExists;
        }
        return DirectoryCreation::kFailed;
    } catch (...) {
        return DirectoryCreation::kFailed;
    }
}

FileHandle openFileForReading(const std::string& path) noexcept {
    return openFile(path, L"rb");
}

FileHandle openFileForAppending(const std::string& path) noexcept {
    return openFile(path, L"ab");
}

bool replaceFile(const std::string& directory, const std::string& path, const unsigned char* data,
                 std::size_t size) noexcept {
    try {
        const std::wstring wideDirectory = widePath(directory);
        const std::wstring widePathName = widePath(path);
        if (wideDirectory.empty() || widePathName.empty() || size > MAXDWORD) {
            return false;
        }
        wchar_t temporary[MAX_PATH + 1] = {};
        // GetTempFileNameW creates the file under a name no other writer takes.
        if (GetTempFileNameW(wideDirectory.c_str(), L"dvc", 0, temporary) == 0) {
            return false;
        }
        bool written = false;
        const HANDLE file = CreateFileW(temporary, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const std::unique_ptr<void, HandleClose> owner(file);
            DWORD count = 0;
            written = WriteFile(file, data, static_cast<DWORD>(size), &count, nullptr) &&
                      count == size && FlushFileBuffers(file);
        }
        if (written && MoveFileExW(temporary, widePathName.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        DeleteFileW(temporary);
        return false;
    } catch (...) {
        return false;
    }
}

bool removeFile(const std::string& path) noexcept {
    try {
        const std::wstring wide = widePath(path);
        return !wide.empty() &&
               (DeleteFileW(wide.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND);
    } catch (...) {
        return false;
    }
}

}  // namespace diveconnector
