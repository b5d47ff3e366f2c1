#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform_files.h"

namespace diveconnector {

namespace {

bool writeAll(int fd, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

DirectoryCreation makeUserDirectory(const std::string& path) noexcept {
    if (::mkdir(path.c_str(), 0700) == 0) {
        return DirectoryCreation::kCreated;
    }
    if (errno == ENOENT) {
        return DirectoryCreation::kParentMissing;
    }
    struct stat status {};
    if (errno == EEXIST && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        return DirectoryCreation::kExists;
    }
    return DirectoryCreation::kFailed;
}

FileHandle openFileForReading(const std::string& path) noexcept {
    return FileHandle(std::fopen(path.c_str(), "rb"));
}

FileHandle openFileForAppending(const std::string& path) noexcept {
    // fopen would create the file with the umask's permissions, readable by everyone.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    FileHandle file(::fdopen(fd, "ab"));
    if (!file) {
        ::close(fd);
    }
    return file;
}

bool replaceFile(const std::string& directory, const std::string& path, const unsigned char* data,
                 std::size_t size) noexcept {
    try {
        const std::string pattern = directory + "/.diveconnector-XXXXXX";
        std::vector<char> temporary(pattern.begin(), pattern.end());
        temporary.push_back('\0');
        // mkstemp creates the file for the user only, under a name no other writer takes.
        const int fd = ::mkstemp(temporary.data());
        if (fd < 0) {
            return false;
        }
        const bool written = writeAll(fd, data, size) && ::fsync(fd) == 0;
        const bool closed = ::close(fd) == 0;
        if (written && closed && ::rename(temporary.data(), path.c_str()) == 0) {
            return true;
        }
        ::unlink(temporary.data());
        return false;
    } catch (...) {
        return false;
    }
}

bool removeFile(const std::string& path) noexcept {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

}  // namespace diveconnector
