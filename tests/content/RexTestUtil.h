#pragma once
// Sliced-loop files for the stand-in decoding library and the places it is put for a test.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace corvane::test {

// The library's file names on this system, in the order the plug-in tries them.
inline std::string rexDebuggingName() {
    return platform::pluginFileName("REX Shared Library Debugging");
}
inline std::string rexTestingName() {
    return platform::pluginFileName("REX Shared Library Testing");
}
inline std::string rexPlainName() {
    return platform::pluginFileName("REX Shared Library");
}

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

// A build of the stand-in: "plain" (version 1.1.1), "old" (1.1.0), "new" (2.0.0), "later"
// (1.2.0), "noversion", "incomplete" (a function missing), "closed" (Open fails),
// "needsdep" (needs a library that is nowhere to be found).
inline std::filesystem::path standInBuild(const std::string& variant) {
    const std::filesystem::path dir(CORVANE_REXSTUB_DIR);
    // "needsdep" is built under the library's own name, alone in its folder.
    if (variant == "needsdep") return dir / "needsdep" / rexPlainName();
    return dir / platform::pluginFileName("librexstub_" + variant);
}

// Copies a build of the stand-in to folder/<name>.
inline void copyStandIn(const std::filesystem::path& folder, const std::string& variant,
                        const std::string& name) {
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(standInBuild(variant), folder / name,
                               std::filesystem::copy_options::overwrite_existing);
}

// Copies a build of the stand-in to base/Propellerhead Software/Rex/<name>, where the
// plug-in looks first when base is its vendor folder.
inline void installStandIn(const std::filesystem::path& base, const std::string& variant,
                           const std::string& name = rexPlainName()) {
    copyStandIn(base / "Propellerhead Software" / "Rex", variant, name);
}

// What the stand-in logs while the plug-in loads it as `name`, up to its Open. A Linux
// loader asks the library for its version; a Windows loader reads the file's version
// resource and calls nothing.
inline std::vector<std::string> loadCalls(const std::string& name) {
#if defined(_WIN32)
    return {"load " + name, "Open " + name};
#else
    return {"load " + name, "REXGetLibraryVersion", "Open " + name};
#endif
}

// Where the stand-in appends the calls it receives (empty: nowhere).
inline void setCallLog(const std::filesystem::path& file) {
#if defined(_WIN32)
    ::_putenv(("CORVANE_REX_LOG=" + file.string()).c_str());
#else
    if (file.empty())
        ::unsetenv("CORVANE_REX_LOG");
    else
        ::setenv("CORVANE_REX_LOG", file.c_str(), 1);
#endif
}

inline std::vector<std::string> readLines(const std::filesystem::path& p) {
    std::vector<std::string> lines;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace corvane::test
