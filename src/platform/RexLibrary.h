#pragma once
// The REX Shared Library: a closed decoder for sliced loop files, loaded at run time only
// while an import needs it. The loading rules (nesting count, version, the fourteen
// functions, Open/Close) live here; the operating-system calls behind them are in
// RexLibraryOs.h, one implementation per platform.
//
// Every call here is for the loader thread, one import at a time in the process (the
// loader's own lock serialises imports); the library state is process-wide.
#include <cstdint>

#if defined(_WIN32)
#define CORVANE_REX_CALL __cdecl
#else
#define CORVANE_REX_CALL
#endif

namespace corvane::platform {

// Result codes of the library and of the load.
enum RexCode : int32_t {
    kRexOk = 1,
    kRexAborted = 2,
    kRexNoCreatorInfo = 3,
    kRexLoadOutOfMemory = 100,
    kRexLoadCorrupt = 101,
    kRexLoadTooOld = 102,
    kRexLoadNotFound = 103,
    kRexLoadTooNew = 104,
    kRexOutOfMemory = 105,
    kRexFileCorrupt = 106,
    kRexSystemTooOld = 109,
    kRexNotLoaded = 200,
    kRexAlreadyLoaded = 201,
    kRexInvalidArgument = 204,
    kRexInvalidSampleRate = 206,
};

using RexHandle = void*;  // an object of the library, opaque

// The records exchanged with the library, passed with their sizes.
struct RexInfo {
    int32_t channels;    // 1 mono, otherwise stereo
    int32_t sampleRate;  // Hz
    int32_t sliceCount;
    int32_t unused1;
    int32_t unused2;
    int32_t loopTicks;  // loop length, 15360 ticks per quarter note
    int32_t unused3;
    int32_t unused4;
    int32_t unused5;
};
static_assert(sizeof(RexInfo) == 36);

struct RexSliceInfo {
    int32_t tickPosition;
    int32_t frames;  // at the output sample rate
};
static_assert(sizeof(RexSliceInfo) == 8);

struct RexCreatorInfo {
    char bytes[1280];
};

// Loads the library (see the rules in RexLibrary.cpp). kRexOk with the nesting count at 1;
// kRexAlreadyLoaded when it was loaded already (the count is raised all the same, so every
// load is paired with one rexUnloadLibrary); any other code: nothing is loaded.
int32_t rexLoadLibrary();
// Lowers the nesting count; at 0 calls Close, forgets the functions and frees the library.
void rexUnloadLibrary();
bool rexLibraryLoaded();
int rexNestingCount();

// Calls into the library; each gives kRexNotLoaded while the library is not loaded.
int32_t rexCreate(RexHandle* handle, const char* buffer, int32_t size);
void rexDelete(RexHandle* handle);
int32_t rexGetInfo(RexHandle handle, int32_t infoSize, RexInfo* info);
int32_t rexGetCreatorInfo(RexHandle handle, int32_t infoSize, RexCreatorInfo* info);
int32_t rexGetSliceInfo(RexHandle handle, int32_t slice, int32_t infoSize, RexSliceInfo* info);
int32_t rexSetOutputSampleRate(RexHandle handle, int32_t rate);
int32_t rexRenderSlice(RexHandle handle, int32_t slice, int32_t frames, float* outputs[2]);

// Tests only: the folder searched first in place of the platform's own place for the
// vendor's folder (empty: the platform's place). Loader thread.
void setRexVendorFolderForTests(const char* folder);

}  // namespace corvane::platform
