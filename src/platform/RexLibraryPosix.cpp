// Loading the REX Shared Library with dlopen. The vendor's folder sits beside the plug-in:
// "<folder of Corvane.so>/Propellerhead Software/Rex/". ELF files carry no version
// resource, so the library's version is what its REXGetLibraryVersion reports.
#if !defined(_WIN32)
#include <dlfcn.h>
#include <sys/stat.h>

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

// The code for a failed dlopen of `path`: not found only when the library itself is missing
// (a missing library it depends on means it was found but cannot be loaded).
int32_t failureCode(const std::string& path, const char* error) {
    const std::string text = error ? error : "";
    if (text.find("Cannot allocate memory") != std::string::npos) return kRexLoadOutOfMemory;
    if (path.find('/') != std::string::npos) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? kRexLoadCorrupt : kRexLoadNotFound;
    }
    const bool itself = text.rfind(path + ":", 0) == 0;
    return itself && text.find("No such file or directory") != std::string::npos ? kRexLoadNotFound
                                                                                 : kRexLoadCorrupt;
}

void* attempt(const std::string& path, int32_t& code) {
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) code = failureCode(path, ::dlerror());
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
