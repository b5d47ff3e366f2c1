#include "state_directory.h"

#include "platform_files.h"

namespace diveconnector {

namespace {

// A NUL would cut the path short where the system reads it.
bool isPlainName(const std::string& part) {
    return !part.empty() && part != "." && part != ".." &&
           part.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::string joined(const std::string& directory, const std::string& relative) {
    if (directory.empty() || directory.find('\0') != std::string::npos) {
        return {};
    }
    std::string path = directory + '/' + relative;
    return path.size() + 1 > kStatePathLimit ? std::string() : path;
}

bool isSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

// The directory part of a path this file formed: everything before the last separator.
std::string parentOf(const std::string& path) {
    std::size_t end = path.size();
    while (end > 0 && !isSeparator(path[end - 1])) {
        --end;
    }
    while (end > 1 && isSeparator(path[end - 1])) {
        --end;
    }
    return path.substr(0, end);
}

// Creates the directory and its missing ancestors, each user-only.
bool makeDirectories(const std::string& directory, int depth = 0) {
    // Far more levels than a path within the limit can hold: a loop, not a path.
    constexpr int kMaxDepth = 512;
    if (directory.empty() || depth > kMaxDepth) {
        return false;
    }
    switch (makeUserDirectory(directory)) {
        case DirectoryCreation::kCreated:
        case DirectoryCreation::kExists:
            return true;
        case DirectoryCreation::kParentMissing: {
            const std::string parent = parentOf(directory);
            return parent != directory && makeDirectories(parent, depth + 1) &&
                   makeUserDirectory(directory) != DirectoryCreation::kFailed;
        }
        case DirectoryCreation::kFailed:
            break;
    }
    return false;
}

}  // namespace

std::string statePath(const std::string& directory, const std::string& subfolder,
                      const std::string& name) {
    return isPlainName(subfolder) && isPlainName(name) ? joined(directory, subfolder + '/' + name)
                                                       : std::string();
}

std::string statePath(const std::string& directory, const std::string& name) {
    return isPlainName(name) ? joined(directory, name) : std::string();
}

std::optional<std::vector<unsigned char>> readStateFile(const std::string& path,
                                                        std::size_t maxSize) noexcept {
    try {
        const FileHandle file = openFileForReading(path);
        if (!file) {
            return std::nullopt;
        }
        std::vector<unsigned char> content;
        unsigned char chunk[1024];
        std::size_t count = 0;
        while ((count = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
            if (content.size() + count > maxSize) {
                return std::nullopt;
            }
            content.insert(content.end(), chunk, chunk + count);
        }
        if (std::ferror(file.get()) != 0) {
            return std::nullopt;
        }
        return content;
    } catch (...) {
        return std::nullopt;
    }
}

bool writeStateFile(const std::string& path, const unsigned char* data, std::size_t size) noexcept {
    try {
        const std::string directory = parentOf(path);
        return makeDirectories(directory) && replaceFile(directory, path, data, size);
    } catch (...) {
        return false;
    }
}

}  // namespace diveconnector
