#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <vector>

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
using Handle = std::unique_ptr<void, HandleClose>;

struct LocalMemoryFree {
    void operator()(void* memory) const noexcept { LocalFree(memory); }
};

// The SDDL text of a protected DACL that lets the process's user, and no one else, at the file:
// "D:P(A;;FA;;;S-1-5-21-...)"; empty on any failure.
std::wstring userOnlyAccess() {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) {
        return {};
    }
    const Handle token(rawToken);
    DWORD size = 0;
    GetTokenInformation(rawToken, TokenUser, nullptr, 0, &size);
    // From the allocator: aligned for the TOKEN_USER it receives.
    std::vector<unsigned char> user(size);
    if (size == 0 || !GetTokenInformation(rawToken, TokenUser, user.data(), size, &size)) {
        return {};
    }
    wchar_t* rawSid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &rawSid)) {
        return {};
    }
    const std::unique_ptr<wchar_t, LocalMemoryFree> sid(rawSid);
    return std::wstring(L"D:P(A;;FA;;;") + sid.get() + L")";
}

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
    try {
        const std::wstring wide = widePath(path);
        // The default security would let every user of the machine read a file outside the
        // user's profile.
        const std::wstring access = userOnlyAccess();
        if (wide.empty() || access.empty()) {
            return nullptr;
        }
        PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(access.c_str(), SDDL_REVISION_1,
                                                                  &rawDescriptor, nullptr)) {
            return nullptr;
        }
        const std::unique_ptr<void, LocalMemoryFree> descriptor(rawDescriptor);
        SECURITY_ATTRIBUTES attributes{sizeof attributes, rawDescriptor, FALSE};
        // The security applies only when the file is created; an existing one keeps its own.
        const HANDLE file =
            CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        &attributes, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_BINARY);
        if (fd < 0) {
            CloseHandle(file);
            return nullptr;
        }
        FileHandle opened(_fdopen(fd, "ab"));
        if (!opened) {
            _close(fd);
        }
        return opened;
    } catch (...) {
        return nullptr;
    }
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
