#include "platform/Paths.h"

namespace corvane::platform {

bool isAbsolutePath(std::string_view stored) {
    if (stored.size() >= 2 && stored[1] == ':') return true;
    return !stored.empty() && (stored[0] == '/' || stored[0] == '\\');
}

}  // namespace corvane::platform
