#include <windows.h>

#include "platform/Paths.h"

namespace corvane::platform {

namespace {
DWORD attributes(std::string_view stored) {
    return ::GetFileAttributesA(toOsPath(stored).c_str());
}
}  // namespace

std::string toOsPath(std::string_view stored) {
    std::string os(stored);
    for (char& c : os) {
        if (c == '/') c = '\\';
    }
    return os;
}

bool pathExists(std::string_view stored) {
    return attributes(stored) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(std::string_view stored) {
    const DWORD a = attributes(stored);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<std::string> listSubfolders(std::string_view storedFolder) {
    std::vector<std::string> names;
    std::string pattern = toOsPath(storedFolder);
    if (!pattern.empty() && pattern.back() != '\\') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) names.push_back(name);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return names;
}

std::FILE* openRead(std::string_view stored) {
    // A folder is never a file to read.
    const DWORD a = attributes(stored);
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    return std::fopen(toOsPath(stored).c_str(), "rb");
}

std::FILE* openWrite(std::string_view stored) {
    return std::fopen(toOsPath(stored).c_str(), "wb");
}

}  // namespace corvane::platform
