// Loading rules of the REX Shared Library, the same on every platform: a nesting count,
// the version check, the fourteen functions resolved by name and the library's own
// Open/Close around its use.
#include "platform/RexLibrary.h"

#include <mutex>
#include <string>

#include "platform/RexLibraryOs.h"

namespace corvane::platform {
namespace {

using CreateFn = int32_t(CORVANE_REX_CALL*)(RexHandle*, const char*, int32_t, void*, void*);
using DeleteFn = void(CORVANE_REX_CALL*)(RexHandle*);
using GetInfoFn = int32_t(CORVANE_REX_CALL*)(RexHandle, int32_t, void*);
using GetInfoFromBufferFn = int32_t(CORVANE_REX_CALL*)(int32_t, const char*, int32_t, void*);
using GetCreatorInfoFn = int32_t(CORVANE_REX_CALL*)(RexHandle, int32_t, void*);
using GetSliceInfoFn = int32_t(CORVANE_REX_CALL*)(RexHandle, int32_t, int32_t, void*);
using SetOutputSampleRateFn = int32_t(CORVANE_REX_CALL*)(RexHandle, int32_t);
using RenderSliceFn = int32_t(CORVANE_REX_CALL*)(RexHandle, int32_t, int32_t, float**);
using PreviewFn = int32_t(CORVANE_REX_CALL*)(RexHandle);
using RenderPreviewBatchFn = int32_t(CORVANE_REX_CALL*)(RexHandle, int32_t, float**);
using SetPreviewTempoFn = int32_t(CORVANE_REX_CALL*)(RexHandle, int32_t);
using OpenFn = char(CORVANE_REX_CALL*)();
using CloseFn = void(CORVANE_REX_CALL*)();

struct Functions {
    CreateFn create = nullptr;
    DeleteFn destroy = nullptr;
    GetInfoFn getInfo = nullptr;
    GetInfoFromBufferFn getInfoFromBuffer = nullptr;
    GetCreatorInfoFn getCreatorInfo = nullptr;
    GetSliceInfoFn getSliceInfo = nullptr;
    SetOutputSampleRateFn setOutputSampleRate = nullptr;
    RenderSliceFn renderSlice = nullptr;
    PreviewFn startPreview = nullptr;
    PreviewFn stopPreview = nullptr;
    RenderPreviewBatchFn renderPreviewBatch = nullptr;
    SetPreviewTempoFn setPreviewTempo = nullptr;
    OpenFn open = nullptr;
    CloseFn close = nullptr;
};

struct State {
    std::mutex mutex;
    void* library = nullptr;
    int nesting = 0;
    Functions fn;
    std::string vendorFolder;
};

State& state() {
    static State s;
    return s;
}

template <class Fn>
bool resolve(void* library, const char* name, Fn& out) {
    out = reinterpret_cast<Fn>(rexos::symbol(library, name));
    return out != nullptr;
}

bool resolveAll(void* library, Functions& fn) {
    // All fourteen are resolved, also those the import never calls: a library lacking any
    // of them is not the library this was written for.
    bool ok = true;
    ok &= resolve(library, "REXCreate", fn.create);
    ok &= resolve(library, "REXDelete", fn.destroy);
    ok &= resolve(library, "REXGetInfo", fn.getInfo);
    ok &= resolve(library, "REXGetInfoFromBuffer", fn.getInfoFromBuffer);
    ok &= resolve(library, "REXGetCreatorInfo", fn.getCreatorInfo);
    ok &= resolve(library, "REXGetSliceInfo", fn.getSliceInfo);
    ok &= resolve(library, "REXSetOutputSampleRate", fn.setOutputSampleRate);
    ok &= resolve(library, "REXRenderSlice", fn.renderSlice);
    ok &= resolve(library, "REXStartPreview", fn.startPreview);
    ok &= resolve(library, "REXStopPreview", fn.stopPreview);
    ok &= resolve(library, "REXRenderPreviewBatch", fn.renderPreviewBatch);
    ok &= resolve(library, "REXSetPreviewTempo", fn.setPreviewTempo);
    ok &= resolve(library, "Open", fn.open);
    ok &= resolve(library, "Close", fn.close);
    return ok;
}

// Major 1 only, and at least 1.1.1.
int32_t checkVersion(int32_t major, int32_t minor, int32_t revision) {
    if (major > 1) return kRexLoadTooNew;
    if (major < 1) return kRexLoadTooOld;
    const int64_t number = int64_t(major) * 1000000 + int64_t(minor) * 1000 + revision;
    return number >= 1001001 ? kRexOk : kRexLoadTooOld;
}

// The loaded library's functions, or null while it is not loaded.
const Functions* loaded() {
    State& s = state();
    return s.library ? &s.fn : nullptr;
}

}  // namespace

int32_t rexLoadLibrary() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.library) {
        ++s.nesting;
        return kRexAlreadyLoaded;
    }
    if (const int32_t code = rexos::checkSystem(); code != kRexOk) return code;
    int32_t code = kRexLoadNotFound;
    void* library = rexos::load(s.vendorFolder, code);
    if (!library) return code;

    int32_t major = 0, minor = 0, revision = 0;
    code = rexos::version(library, major, minor, revision);
    if (code == kRexOk) code = checkVersion(major, minor, revision);
    if (code != kRexOk) {
        rexos::unload(library);
        return code;
    }
    Functions fn;
    if (!resolveAll(library, fn) || fn.open() == 0) {
        rexos::unload(library);
        return kRexLoadCorrupt;
    }
    s.library = library;
    s.fn = fn;
    s.nesting = 1;
    return kRexOk;
}

void rexUnloadLibrary() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.library || s.nesting <= 0) return;
    if (--s.nesting > 0) return;
    s.fn.close();
    s.fn = Functions{};
    rexos::unload(s.library);
    s.library = nullptr;
}

bool rexLibraryLoaded() {
    return loaded() != nullptr;
}

int rexNestingCount() {
    return state().nesting;
}

int32_t rexCreate(RexHandle* handle, const char* buffer, int32_t size) {
    const Functions* fn = loaded();
    return fn ? fn->create(handle, buffer, size, nullptr, nullptr) : kRexNotLoaded;
}

void rexDelete(RexHandle* handle) {
    if (const Functions* fn = loaded()) fn->destroy(handle);
}

int32_t rexGetInfo(RexHandle handle, int32_t infoSize, RexInfo* info) {
    const Functions* fn = loaded();
    return fn ? fn->getInfo(handle, infoSize, info) : kRexNotLoaded;
}

int32_t rexGetCreatorInfo(RexHandle handle, int32_t infoSize, RexCreatorInfo* info) {
    const Functions* fn = loaded();
    return fn ? fn->getCreatorInfo(handle, infoSize, info) : kRexNotLoaded;
}

int32_t rexGetSliceInfo(RexHandle handle, int32_t slice, int32_t infoSize, RexSliceInfo* info) {
    const Functions* fn = loaded();
    return fn ? fn->getSliceInfo(handle, slice, infoSize, info) : kRexNotLoaded;
}

int32_t rexSetOutputSampleRate(RexHandle handle, int32_t rate) {
    const Functions* fn = loaded();
    return fn ? fn->setOutputSampleRate(handle, rate) : kRexNotLoaded;
}

int32_t rexRenderSlice(RexHandle handle, int32_t slice, int32_t frames, float* outputs[2]) {
    const Functions* fn = loaded();
    return fn ? fn->renderSlice(handle, slice, frames, outputs) : kRexNotLoaded;
}

void setRexVendorFolderForTests(const char* folder) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.vendorFolder = folder ? folder : "";
}

}  // namespace corvane::platform
