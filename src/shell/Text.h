#pragma once
#include <cstddef>
#include <cstring>

namespace corvane {

// Copies at most capacity - 1 characters of text and a terminating zero into out.
inline void copyText(char* out, const char* text, size_t capacity) {
    if (!out || capacity == 0) return;
    const size_t n = text ? strnlen(text, capacity - 1) : 0;
    std::memcpy(out, text, n);
    out[n] = 0;
}

}  // namespace corvane
