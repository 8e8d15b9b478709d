// Loading the REX Shared Library with dlopen. The vendor's folder sits beside the plug-in:
// "<folder of Corvane.so>/Propellerhead Software/Rex/". ELF files carry no version
// resource, so the library's version is what its REXGetLibraryVersion reports.
#if !defined(_WIN32)
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>

#include "platform/RexLibrary.h"
#include "platform/RexLibraryOs.h"

namespace corvane::platform::rexos {
namespace {

constexpr const char* kNames[] = {
    "REX Shared Library Debugging.so",
    "REX Shared Library Testing.so",
    "REX Shared Library.so",
};

// The folder of the module that holds this code (the plug-in), ending in '/'.
std::string moduleFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&moduleFolder), &info) == 0 || !info.dli_fname) return {};
    std::string path = info.dli_fname;
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string("./") : path.substr(0, cut + 1);
}

// The code for a failed dlopen, from the loader's own explanation.
int32_t failureCode(const char* error) {
    if (!error) return kRexLoadCorrupt;
    if (std::strstr(error, "No such file or directory")) return kRexLoadNotFound;
    if (std::strstr(error, "Cannot allocate memory")) return kRexLoadOutOfMemory;
    return kRexLoadCorrupt;
}

void* attempt(const std::string& path, int32_t& code) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        code = failureCode(::dlerror());
        // A full path that names no file is not found, whatever the loader says.
        struct stat st;
        if (path.find('/') != std::string::npos && ::stat(path.c_str(), &st) != 0)
            code = kRexLoadNotFound;
    }
    return library;
}

}  // namespace

int32_t checkSystem() {
    return kRexOk;
}

void* load(const std::string& vendorBase, int32_t& code) {
    std::string base = vendorBase.empty() ? moduleFolder() : vendorBase;
    if (!base.empty() && base.back() != '/') base += '/';
    code = kRexLoadNotFound;
    for (const char* name : kNames) {
        if (!base.empty()) {
            if (void* library = attempt(base + "Propellerhead Software/Rex/" + name, code))
                return library;
        }
        if (void* library = attempt(name, code)) return library;
    }
    return nullptr;
}

int32_t version(void* library, int32_t& major, int32_t& minor, int32_t& revision) {
    major = minor = revision = 0;
    using VersionFn = void (*)(int32_t*, int32_t*, int32_t*);
    if (auto fn = reinterpret_cast<VersionFn>(::dlsym(library, "REXGetLibraryVersion")))
        fn(&major, &minor, &revision);
    return kRexOk;
}

void* symbol(void* library, const char* name) {
    return ::dlsym(library, name);
}

void unload(void* library) {
    if (library) ::dlclose(library);
}

}  // namespace corvane::platform::rexos
#endif
