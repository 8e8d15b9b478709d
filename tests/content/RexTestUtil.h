#pragma once
// Sliced-loop files for the stand-in decoding library and the places it is put for a test.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace corvane::test {

constexpr const char* kRexPlainName = "REX Shared Library.so";
constexpr const char* kRexTestingName = "REX Shared Library Testing.so";

// A loop in the stand-in's text format: by default 16 stereo slices of 3840 ticks (a
// sixteenth note each), 5512 frames long at 44.1 kHz. Slice i holds (i + 1) / 128 on the
// left and -(i + 1) / 256 on the right.
struct LoopFile {
    int channels = 2;
    int rate = 44100;
    int slices = 16;
    int loopTicks = 16 * 3840;
    int tick = 3840;
    int frames = 5512;
    std::vector<std::string> extra;  // further lines: "fail ...", "slice ..."

    std::string text() const {
        std::string s = "CORVANE TEST LOOP\n";
        s += "channels " + std::to_string(channels) + "\n";
        s += "rate " + std::to_string(rate) + "\n";
        s += "slices " + std::to_string(slices) + "\n";
        s += "loop " + std::to_string(loopTicks) + "\n";
        s += "tick " + std::to_string(tick) + "\n";
        s += "frames " + std::to_string(frames) + "\n";
        for (const std::string& line : extra)
            s += line + "\n";
        return s;
    }
};

inline float sliceLeft(int slice) {
    return float(slice + 1) / 128.0f;
}
inline float sliceRight(int slice) {
    return -float(slice + 1) / 256.0f;
}

// Copies a build of the stand-in ("plain", "old", "new", "noversion", "incomplete",
// "closed") to base/Propellerhead Software/Rex/<name>, where the plug-in looks first.
inline void installStandIn(const std::filesystem::path& base, const std::string& variant,
                           const std::string& name = kRexPlainName) {
    const auto folder = base / "Propellerhead Software" / "Rex";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(
        std::filesystem::path(CORVANE_REXSTUB_DIR) / ("librexstub_" + variant + ".so"),
        folder / name, std::filesystem::copy_options::overwrite_existing);
}

inline std::vector<std::string> readLines(const std::filesystem::path& p) {
    std::vector<std::string> lines;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace corvane::test
