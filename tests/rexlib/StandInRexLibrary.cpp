// A stand-in for the REX Shared Library, for the tests only (never installed). It exports
// the fourteen functions and REXGetLibraryVersion over a small text format of its own:
//
//   CORVANE TEST LOOP
//   channels 2          1 = mono
//   rate 44100          the loop's own sample rate
//   slices 16
//   loop 61440          loop length in ticks
//   tick 3840           slice i starts at tick i * tick ...
//   frames 5512         ... and has this many frames at the loop's rate
//   slice 3 frames -5   one slice's length (or "pos"), as reported whatever the rate
//   # a comment line
//   fail REXCreate 106  that call answers 106; a third number limits it to one slice (or,
//                       for REXSetOutputSampleRate, to one rate)
//
// Slice i renders the constant (i + 1) / 128 on the left and -(i + 1) / 256 on the right.
// Each call is appended to the file named by CORVANE_REX_LOG, when that is set. Build-time
// switches: REXSTUB_VERSION (major*1000000 + minor*1000 + revision, default 1.1.1),
// REXSTUB_NO_VERSION (no version at all), REXSTUB_INCOMPLETE (no REXSetPreviewTempo),
// REXSTUB_OPEN_FAILS (Open answers false), REXSTUB_NEEDS_DEPENDENCY (linked against a
// library of its own that the tests do not provide).
//
// The version: on Linux REXGetLibraryVersion reports it. A Windows DLL carries it in its
// version resource (StandInRexLibrary.rc, linked in by the build) and exports no such
// function, so a loader that asked the library instead of the file would find none.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#if defined(_WIN32)
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

#ifndef REXSTUB_VERSION
#define REXSTUB_VERSION 1001001
#endif

namespace {

struct Loop {
    int32_t channels = 2;
    int32_t rate = 44100;
    int32_t slices = 0;
    int32_t loopTicks = 0;
    int32_t tick = 3840;
    int32_t frames = 1000;
    std::map<int32_t, int32_t> sliceFrames;  // exact answers, whatever the output rate
    std::map<int32_t, int32_t> slicePos;
    std::map<std::pair<std::string, int32_t>, int32_t> failures;  // slice -1: every call
    int32_t outputRate = 44100;
};

std::set<Loop*> gLoops;

}  // namespace

// The file name this library was loaded from, without its folder (StandInName*.cpp).
std::string standInFileName();

namespace {

std::string libraryName() {
    return standInFileName();
}

void log(const std::string& line) {
    const char* path = std::getenv("CORVANE_REX_LOG");
    if (!path || !*path) return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

__attribute__((constructor)) void loaded() {
    log("load " + libraryName());
}
__attribute__((destructor)) void unloaded() {
    log("unload " + libraryName());
}

bool parse(const char* buffer, int32_t size, Loop& loop) {
    if (!buffer || size <= 0) return false;
    std::istringstream in(std::string(buffer, static_cast<size_t>(size)));
    std::string line;
    if (!std::getline(in, line) || line != "CORVANE TEST LOOP") return false;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        if (!(words >> key) || key[0] == '#') continue;
        if (key == "channels")
            words >> loop.channels;
        else if (key == "rate")
            words >> loop.rate;
        else if (key == "slices")
            words >> loop.slices;
        else if (key == "loop")
            words >> loop.loopTicks;
        else if (key == "tick")
            words >> loop.tick;
        else if (key == "frames")
            words >> loop.frames;
        else if (key == "slice") {
            int32_t index = 0, value = 0;
            std::string what;
            words >> index >> what >> value;
            (what == "pos" ? loop.slicePos : loop.sliceFrames)[index] = value;
        } else if (key == "fail") {
            std::string call;
            int32_t code = 0, slice = -1;
            words >> call >> code;
            words >> slice;
            loop.failures[{call, slice}] = code;
        } else {
            return false;
        }
    }
    return true;
}

// The code a call was told to answer, or 0. `slice` is the call's slice (or rate).
int32_t failure(const Loop& loop, const char* call, int32_t slice = -1) {
    auto it = loop.failures.find({call, slice});
    if (it == loop.failures.end() && slice != -1) it = loop.failures.find({call, -1});
    return it == loop.failures.end() ? 0 : it->second;
}

Loop* find(void* handle) {
    Loop* loop = static_cast<Loop*>(handle);
    return gLoops.count(loop) ? loop : nullptr;
}

int32_t framesAtOutput(const Loop& loop, int32_t slice) {
    auto it = loop.sliceFrames.find(slice);
    if (it != loop.sliceFrames.end()) return it->second;
    return static_cast<int32_t>(int64_t(loop.frames) * loop.outputRate / loop.rate);
}

std::string str(int64_t v) {
    return std::to_string(v);
}

}  // namespace

#if !defined(REXSTUB_NO_VERSION) && !defined(_WIN32)
EXPORT void REXGetLibraryVersion(int32_t* major, int32_t* minor, int32_t* revision) {
    log("REXGetLibraryVersion");
    *major = REXSTUB_VERSION / 1000000;
    *minor = REXSTUB_VERSION / 1000 % 1000;
    *revision = REXSTUB_VERSION % 1000;
}
#endif

#ifdef REXSTUB_NEEDS_DEPENDENCY
extern "C" int corvane_rexstub_dependency();
#endif

EXPORT char Open(void) {
    log("Open " + libraryName());
#ifdef REXSTUB_NEEDS_DEPENDENCY
    if (corvane_rexstub_dependency() != 1) return 0;
#endif
#ifdef REXSTUB_OPEN_FAILS
    return 0;
#else
    return 1;
#endif
}

EXPORT void Close(void) {
    log("Close");
}

EXPORT int32_t REXCreate(void** handle, const char* buffer, int32_t size, void* progress,
                         void* userData) {
    log("REXCreate " + str(size) + (progress || userData ? " callback" : ""));
    auto* loop = new Loop;
    if (!parse(buffer, size, *loop)) {
        delete loop;
        return 106;
    }
    if (const int32_t code = failure(*loop, "REXCreate")) {
        delete loop;
        return code;
    }
    gLoops.insert(loop);
    *handle = loop;
    return 1;
}

EXPORT void REXDelete(void** handle) {
    log("REXDelete");
    if (Loop* loop = find(*handle)) {
        gLoops.erase(loop);
        delete loop;
    }
    *handle = nullptr;
}

EXPORT int32_t REXGetInfo(void* handle, int32_t infoSize, void* info) {
    log("REXGetInfo " + str(infoSize));
    Loop* loop = find(handle);
    if (!loop) return 202;
    if (infoSize != 36) return 203;
    if (const int32_t code = failure(*loop, "REXGetInfo")) return code;
    int32_t fields[9] = {loop->channels, loop->rate, loop->slices, 0, 0, loop->loopTicks, 0, 0, 0};
    std::memcpy(info, fields, sizeof fields);
    return 1;
}

EXPORT int32_t REXGetInfoFromBuffer(int32_t bufferSize, const char* buffer, int32_t infoSize,
                                    void* info) {
    log("REXGetInfoFromBuffer");
    Loop loop;
    if (infoSize != 36) return 203;
    if (!parse(buffer, bufferSize, loop)) return 106;
    int32_t fields[9] = {loop.channels, loop.rate, loop.slices, 0, 0, loop.loopTicks, 0, 0, 0};
    std::memcpy(info, fields, sizeof fields);
    return 1;
}

EXPORT int32_t REXGetCreatorInfo(void* handle, int32_t infoSize, void* info) {
    log("REXGetCreatorInfo " + str(infoSize));
    Loop* loop = find(handle);
    if (!loop) return 202;
    if (infoSize != 1280) return 203;
    if (const int32_t code = failure(*loop, "REXGetCreatorInfo")) return code;
    std::memset(info, 0, 1280);
    std::strcpy(static_cast<char*>(info), "stand-in");
    return 1;
}

EXPORT int32_t REXGetSliceInfo(void* handle, int32_t slice, int32_t infoSize, void* info) {
    log("REXGetSliceInfo " + str(slice) + " " + str(infoSize));
    Loop* loop = find(handle);
    if (!loop) return 202;
    if (infoSize != 8) return 203;
    if (const int32_t code = failure(*loop, "REXGetSliceInfo", slice)) return code;
    if (slice < 0 || slice >= loop->slices) return 205;
    auto pos = loop->slicePos.find(slice);
    int32_t fields[2] = {pos != loop->slicePos.end() ? pos->second : slice * loop->tick,
                         framesAtOutput(*loop, slice)};
    std::memcpy(info, fields, sizeof fields);
    return 1;
}

EXPORT int32_t REXSetOutputSampleRate(void* handle, int32_t rate) {
    log("REXSetOutputSampleRate " + str(rate));
    Loop* loop = find(handle);
    if (!loop) return 202;
    if (const int32_t code = failure(*loop, "REXSetOutputSampleRate", rate)) return code;
    if (rate < 11025 || rate > 1000000) return 206;
    loop->outputRate = rate;
    return 1;
}

EXPORT int32_t REXRenderSlice(void* handle, int32_t slice, int32_t frames, float* outputs[2]) {
    Loop* loop = find(handle);
    log("REXRenderSlice " + str(slice) + " " + str(frames) + " " +
        (outputs && outputs[1] ? "stereo" : "mono"));
    if (!loop) return 202;
    if (const int32_t code = failure(*loop, "REXRenderSlice", slice)) return code;
    if (slice < 0 || slice >= loop->slices) return 205;
    const int32_t n = framesAtOutput(*loop, slice);
    if (n < 0 || frames < n) return 207;
    if (!outputs || !outputs[0] || (loop->channels != 1 && !outputs[1])) return 204;
    for (int32_t i = 0; i < n; ++i) {
        outputs[0][i] = float(slice + 1) / 128.0f;
        if (loop->channels != 1) outputs[1][i] = -float(slice + 1) / 256.0f;
    }
    return 1;
}

EXPORT int32_t REXStartPreview(void*) {
    log("REXStartPreview");
    return 1;
}
EXPORT int32_t REXStopPreview(void*) {
    log("REXStopPreview");
    return 1;
}
EXPORT int32_t REXRenderPreviewBatch(void*, int32_t, float**) {
    log("REXRenderPreviewBatch");
    return 1;
}
#ifndef REXSTUB_INCOMPLETE
EXPORT int32_t REXSetPreviewTempo(void*, int32_t) {
    log("REXSetPreviewTempo");
    return 1;
}
#endif
