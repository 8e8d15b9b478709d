#pragma once
// File-system boundary. Paths are stored and compared in the backslash form. At the
// file-system boundary Linux turns every backslash into '/'; Windows keeps the backslashes
// (and turns any '/' into one), so drive letters and UNC names pass unchanged.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::platform {

// The path as the operating system sees it.
std::string toOsPath(std::string_view stored);

// A path is absolute when its second character is ':' or its first is '/' or '\'.
bool isAbsolutePath(std::string_view stored);

bool pathExists(std::string_view stored);
bool isDirectory(std::string_view stored);

// Names of the subfolders of a folder, in the order the file system lists them
// ("." and ".." excluded). Empty when the folder cannot be read.
std::vector<std::string> listSubfolders(std::string_view storedFolder);
// The entries of a folder for a file browser: subfolders first, each with a trailing '/',
// then files, each group sorted by name; hidden entries (a leading '.') left out.
std::vector<std::string> listFolder(std::string_view storedFolder);
// The user's home folder in the operating system's form ("/" when it is not known).
std::string homeFolder();

// Opens a file for binary reading or writing; null on failure. A folder never opens for
// reading.
std::FILE* openRead(std::string_view stored);
std::FILE* openWrite(std::string_view stored);

}  // namespace corvane::platform
