// The editor's reading of dropped uri-lists: any bytes give either nothing or one absolute
// path without line breaks or zero bytes.
#include <cstdint>
#include <cstdlib>

#include "editor/UriList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path =
        corvane::editor::firstPathOfUriList(reinterpret_cast<const char*>(data), size);
    if (!path.empty() && path[0] != '/') std::abort();
    if (path.find('\0') != std::string::npos) std::abort();
    return 0;
}
