#include "platform/Paths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace corvane::platform {

std::string toOsPath(std::string_view stored) {
    std::string os(stored);
    for (char& c : os) {
        if (c == '\\') c = '/';
    }
    return os;
}

bool pathExists(std::string_view stored) {
    struct stat st;
    return ::stat(toOsPath(stored).c_str(), &st) == 0;
}

bool isDirectory(std::string_view stored) {
    struct stat st;
    return ::stat(toOsPath(stored).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> listSubfolders(std::string_view storedFolder) {
    std::vector<std::string> names;
    std::string os = toOsPath(storedFolder);
    DIR* dir = ::opendir(os.c_str());
    if (!dir) return names;
    if (!os.empty() && os.back() != '/') os += '/';
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (isDirectory(os + name)) names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

std::vector<std::string> listFolder(std::string_view storedFolder) {
    std::vector<std::string> folders, files;
    std::string os = toOsPath(storedFolder);
    DIR* dir = ::opendir(os.c_str());
    if (!dir) return folders;
    if (!os.empty() && os.back() != '/') os += '/';
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name.empty() || name[0] == '.') continue;
        if (isDirectory(os + name))
            folders.push_back(name + "/");
        else
            files.push_back(name);
    }
    ::closedir(dir);
    std::sort(folders.begin(), folders.end());
    std::sort(files.begin(), files.end());
    folders.insert(folders.end(), files.begin(), files.end());
    return folders;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "/";
}

std::FILE* openRead(std::string_view stored) {
    std::FILE* file = std::fopen(toOsPath(stored).c_str(), "rb");
    // A folder opens here but not as a file elsewhere; it is never a file to read.
    struct stat st;
    if (file && (::fstat(::fileno(file), &st) != 0 || S_ISDIR(st.st_mode))) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

std::FILE* openWrite(std::string_view stored) {
    return std::fopen(toOsPath(stored).c_str(), "wb");
}

}  // namespace corvane::platform
