// The news answer rules and the display text over arbitrary bytes from the network.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/News.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto news = corvane::net::parseNewsAnswer(bytes)) {
        if (news->link.size() + news->text.size() > bytes.size()) __builtin_trap();
        if (news->text.find('\0') != std::string_view::npos) __builtin_trap();
        std::string shown = corvane::net::toDisplayText(news->text);
        if (corvane::net::toDisplayText(shown) != shown) __builtin_trap();
    }
    std::string shown = corvane::net::toDisplayText(bytes);
    if (corvane::net::toDisplayText(shown) != shown) __builtin_trap();
    return 0;
}
