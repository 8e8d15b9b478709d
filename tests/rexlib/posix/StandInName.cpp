#include <dlfcn.h>

#include <cstring>
#include <string>

std::string standInFileName() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&standInFileName), &info) == 0 || !info.dli_fname)
        return "?";
    const char* slash = std::strrchr(info.dli_fname, '/');
    return slash ? slash + 1 : info.dli_fname;
}
