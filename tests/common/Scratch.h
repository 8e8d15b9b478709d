#pragma once
// Unique scratch names for tests, the same way on every system.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace corvane::test {

// A name that no other test run uses at the same time: prefix, then random hex digits.
inline std::string uniqueName(const std::string& prefix) {
    static std::mt19937_64 generator(
        std::random_device{}() ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char digits[24];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(generator()));
    return prefix + "-" + digits;
}

// Creates a new, empty folder in the system's temporary folder.
inline std::filesystem::path makeScratchFolder(const std::string& prefix) {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path p = base / uniqueName(prefix);
        std::error_code ec;
        if (std::filesystem::create_directory(p, ec)) return p;
    }
    throw std::runtime_error("cannot create a scratch folder in " + base.string());
}

}  // namespace corvane::test
