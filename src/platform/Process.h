#pragma once
// Facts about the running program, for the command-line tools.
#include <string>

namespace corvane::platform {

// The folder holding the running program's executable, without a trailing separator; "."
// when it cannot be found.
std::string executableFolder();
// True when stderr is a terminal (progress bars are drawn only then).
bool stderrIsTerminal();
// The file name of a plug-in library of this system (Corvane.so, Corvane.dll).
std::string pluginFileName(const std::string& baseName);

}  // namespace corvane::platform
