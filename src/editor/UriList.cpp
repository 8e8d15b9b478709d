#include "editor/UriList.h"

namespace corvane::editor {

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string firstPathOfUriList(const char* data, size_t size) {
    if (!data) return {};
    const std::string list(data, size);
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find_first_of("\r\n", start);
        if (end == std::string::npos) end = list.size();
        std::string uri = list.substr(start, end - start);
        start = end + 1;
        if (uri.empty() || uri[0] == '#') continue;
        if (uri.rfind("file://", 0) != 0) continue;
        uri = uri.substr(7);
        const size_t slash = uri.find('/');  // after an optional host name
        if (slash == std::string::npos) continue;
        uri = uri.substr(slash);
        std::string path;
        bool bad = false;
        for (size_t i = 0; i < uri.size(); ++i) {
            if (uri[i] == '%' && i + 2 < uri.size() && hexValue(uri[i + 1]) >= 0 &&
                hexValue(uri[i + 2]) >= 0) {
                const char c = static_cast<char>(hexValue(uri[i + 1]) * 16 + hexValue(uri[i + 2]));
                bad |= c == 0;
                path += c;
                i += 2;
            } else {
                bad |= uri[i] == 0;
                path += uri[i];
            }
        }
        if (!bad) return path;
    }
    return {};
}

}  // namespace corvane::editor
