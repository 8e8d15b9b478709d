#include <dlfcn.h>

#include "platform/SharedLibrary.h"

namespace corvane::platform {

void* loadSharedLibrary(const std::string& osPath, std::string* error) {
    void* library = ::dlopen(osPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library && error) *error = std::string("cannot load ") + osPath + ": " + ::dlerror();
    return library;
}

void* sharedLibrarySymbol(void* library, const char* name) {
    return library ? ::dlsym(library, name) : nullptr;
}

void unloadSharedLibrary(void* library) {
    if (library) ::dlclose(library);
}

void routeLibraryMessagesToStderr(void*) {}

}  // namespace corvane::platform
