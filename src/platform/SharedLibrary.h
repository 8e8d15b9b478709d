#pragma once
// Loading a plug-in library into a host process (the test host and the render tool).
#include <string>

namespace corvane::platform {

// Loads the library at an operating-system path; null with *error set on failure.
void* loadSharedLibrary(const std::string& osPath, std::string* error);
// The address of an exported function, or null.
void* sharedLibrarySymbol(void* library, const char* name);
void unloadSharedLibrary(void* library);

// For console hosts: the library's user messages are written to this process's stderr as
// "CAPTION: TEXT" lines instead of opening windows. On Linux a library already does that.
void routeLibraryMessagesToStderr(void* library);

}  // namespace corvane::platform
