#include "content/RexImport.h"

#include <algorithm>
#include <climits>
#include <new>
#include <vector>

#include "platform/MessageBox.h"
#include "platform/RexLibrary.h"

namespace corvane {

const char* rexErrorText(int code) {
    switch (code) {
        case 1:
            return "No Error. (You shouldn't show an error text in this case!)";
        case 2:
            return "Operation was aborted by user. (You shouldn't show an error text in this "
                   "case!)";
        case 3:
            return "There is no optional creator-supplied information in this file. (You "
                   "shouldn't show an error text in this case!)";
        case 100:
            return "Couldn't load the REX DLL because there is too little free memory. Quit "
                   "some other application, then try again.";
        case 101:
            return "Couldn't load the REX DLL. The DLL file may be corrupt. Please re-install "
                   "REX, then try again. If it still doesn't work after that, call tech "
                   "support.";
        case 102:
            return "Couldn't load the REX DLL because it is too old. Please update the DLL, "
                   "then try again.";
        case 103:
            return "The REX DLL could not be found. Maybe REX is not installed on this system?";
        case 104:
            return "The REX DLL could not be used because it is newer than this application is "
                   "expecting. Please update the application, or install an older version of "
                   "the REX DLL.";
        case 105:
            return "The operation could not be completed because there is too little free "
                   "memory. Quit some other application, then try again.";
        case 106:
            return "The format of this file is unknown or the file is corrupt.";
        case 107:
            return "This REX2 file was created by a later version of ReCycle and cannot be "
                   "loaded with this version of the REX DLL. Please update the DLL, then try "
                   "again.";
        case 108:
            return "This ReCycle file cannot be used because its \"Bars\" and \"Beats\" "
                   "settings have not been set.";
        case 109:
            return "Couldn't load the REX DLL because it requires a newer version of Windows "
                   "or Mac OS than is installed on this machine.";
        case 200:
            return "The REX DLL has not been loaded. You must call REXLoadDLL() before any "
                   "other function in the REX API.";
        case 201:
            return "The REX DLL is already loaded. You may not nest calls to REXLoadDLL().";
        case 202:
            return "Invalid handle. The handle you supplied to the function does not refer to "
                   "a REX object currently in memory.";
        case 203:
            return "Invalid size. The fSize field of the REXInfo or REXSliceInfo structure was "
                   "not set up correctly. Please set the field to \"sizeof(REXInfo)\" or "
                   "\"sizeof(REXSliceInfo)\" prior to the function call.";
        case 204:
            return "Invalid argument. One of the parameters you supplied is out of range. "
                   "Please check the documentation on this function for more specific help.";
        case 205:
            return "Invalid slice. The slice number you have supplied is out of range. Check "
                   "the fSliceCount member of the REXInfo structure for this REX object, to see "
                   "how many slices this object has.";
        case 206:
            return "Invalid sample rate. The sample rate must be in the range 11025 Hz - "
                   "1000000 Hz, inclusive.";
        case 207:
            return "The buffer you have supplied is too small for this slice. Check the "
                   "documentation on REXRenderSlice() for an example on how to calculate the "
                   "needed buffer size.";
        case 208:
            return "This REX object is being previewed. You must stop the preview by calling "
                   "REXStopPreview() before previewing can be restarted or before changing the "
                   "output sample rate.";
        case 209:
            return "This object is not currently being previewed. You must not call "
                   "REXRenderBatch() or REXStopPreview() on a REX object unless preview has "
                   "been started.";
        case 210:
            return "Invalid tempo. The preview tempo must be in the range 20 BPM - 450 BPM, "
                   "inclusive.";
        default:
            return "Undefined error. If this happens, you've found a bug in the REX DLL.";
    }
}

std::string rexErrorMessage(int code) {
    const bool known = (code >= 1 && code <= 210) || code == 666;
    if (known) return rexErrorText(code);
    return "Unknown error " + std::to_string(code) + " from the REX DLL.";
}

namespace {

using namespace platform;

constexpr int32_t kOutputRate = 44100;
constexpr int kFirstSliceKey = 36;
constexpr int kTriggerKey = 35;
constexpr size_t kChannelSlackBytes = 4000;  // after each rendered channel, of which...
constexpr int kZeroFramesAfterSlice = 256;   // ...the first 1,024 bytes are zero

void showRexError(int32_t code) {
    showMessage("REX Error", rexErrorMessage(code).c_str());
}

// The whole file in one buffer; false when it cannot be read (or is too big to hand over).
bool readWholeFile(std::FILE* file, std::vector<char>& bytes) {
    if (std::fseek(file, 0, SEEK_END) != 0) return false;
    const long size = std::ftell(file);
    if (size < 0 || size > INT32_MAX || std::fseek(file, 0, SEEK_SET) != 0) return false;
    try {
        bytes.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// Renders slice `index` into the zone; false when the library fails (the zone then stays
// without a sample). A length outside 0..kRexMaxSliceFrames, or memory that cannot be had,
// leaves the zone without a sample and the import goes on.
bool renderSlice(RexHandle handle, int32_t index, bool stereo, SampleZone& zone) {
    RexSliceInfo slice{};
    if (rexGetSliceInfo(handle, index, sizeof slice, &slice) != kRexOk) return false;
    auto placed = [&] {
        zone.slicePosition = slice.tickPosition;
        zone.channels = stereo ? 2 : 1;
        return true;
    };
    if (slice.frames < 0 || slice.frames > kRexMaxSliceFrames) return placed();
    const size_t frames = static_cast<size_t>(slice.frames);
    float* left = allocSampleData(frames, kChannelSlackBytes);
    float* right = stereo ? allocSampleData(frames, kChannelSlackBytes) : nullptr;
    if (!left || (stereo && !right)) {
        freeSampleData(left);
        freeSampleData(right);
        return placed();
    }
    float* outputs[2] = {left, right};
    if (rexRenderSlice(handle, index, slice.frames, outputs) != kRexOk) {
        freeSampleData(left);
        freeSampleData(right);
        return false;
    }
    float* data = left;
    if (stereo) {
        // Left and right interleaved, with the zeroed tails giving 256 silent frames.
        const size_t total = frames + kZeroFramesAfterSlice;
        data = allocSampleData(2 * total, 0);
        if (data) {
            for (size_t f = 0; f < total; ++f) {
                data[2 * f] = left[f];
                data[2 * f + 1] = right[f];
            }
        }
        freeSampleData(left);
        freeSampleData(right);
        if (!data) return placed();
    }
    zone.data = data;
    zone.frameCount = slice.frames;
    zone.bitsPerSample = 32;
    return placed();
}

// Lays the slices out on keys 36 and up and appends the loop-trigger zone on key 35.
void makeZones(RexHandle handle, const RexInfo& info, size_t fileBytes, SampleMap& map) {
    // The count comes from the library: more slices than the file has bytes cannot be real.
    const int32_t slices =
        std::min<int64_t>({int64_t(info.sliceCount), int64_t(kRexMaxSlices), int64_t(fileBytes)});
    if (slices <= 0) return;
    if (!map.beginZones(slices + 1)) return;
    const bool stereo = info.channels != 1;
    for (int32_t i = 0; i < slices; ++i) {
        SampleZone* zone = map.appendZone();
        if (!zone) return;
        zone->sampleRate = info.sampleRate;
        // Slices past key 127 only play through the loop trigger: their keys match no note.
        const int key = kFirstSliceKey + i;
        const bool playable = key <= 127;
        zone->loKey = zone->hiKey = zone->rootKey = static_cast<int8_t>(playable ? key : -1);
        if (!renderSlice(handle, i, stereo, *zone)) return;
        if (playable) map.markKeys(*zone);
    }
    map.sliceCount = map.zoneCount;
    SampleZone* trigger = map.appendZone();
    if (!trigger) return;
    trigger->loKey = trigger->hiKey = trigger->rootKey = kTriggerKey;
    trigger->slicePosition = info.loopTicks;
    trigger->isLoopTrigger = 1;
    trigger->channels = stereo ? 2 : 1;
    trigger->sampleRate = info.sampleRate;
    trigger->bitsPerSample = 32;
    map.markKeys(*trigger);
}

// Everything after the library has made its object from the file.
void importLoop(RexHandle handle, size_t fileBytes, SampleMap& map) {
    int32_t code = rexSetOutputSampleRate(handle, kOutputRate);
    if (code != kRexOk) return showRexError(code);
    RexInfo info{};
    code = rexGetInfo(handle, sizeof info, &info);
    if (code != kRexOk) return showRexError(code);
    // A rate the library itself would refuse cannot be played (a negative one would read
    // before the start of every slice).
    if (info.sampleRate < 11025 || info.sampleRate > 1000000)
        return showRexError(kRexInvalidSampleRate);
    RexCreatorInfo creator{};
    code = rexGetCreatorInfo(handle, sizeof creator, &creator);
    if (code != kRexOk && code != kRexNoCreatorInfo) showRexError(code);
    // Slices are rendered at the loop's own rate; playback converts.
    code = rexSetOutputSampleRate(handle, info.sampleRate);
    if (code != kRexOk) showRexError(code);
    makeZones(handle, info, fileBytes, map);
}

}  // namespace

void importRex(std::FILE* file, SampleMap& map) {
    map.sliceCount = 0;
    const int32_t code = rexLoadLibrary();
    if (code != kRexOk) {
        if (file) std::fclose(file);
        showRexError(code);
        // A nested load raised the count all the same; it is given back.
        if (code == kRexAlreadyLoaded) rexUnloadLibrary();
        return;
    }
    std::vector<char> bytes;
    const bool read = file && readWholeFile(file, bytes);
    if (file) std::fclose(file);
    if (read) {
        RexHandle handle = nullptr;
        const int32_t created =
            rexCreate(&handle, bytes.data(), static_cast<int32_t>(bytes.size()));
        if (created != kRexOk) {
            showRexError(created);
        } else {
            importLoop(handle, bytes.size(), map);
            rexDelete(&handle);
        }
    }
    rexUnloadLibrary();
}

}  // namespace corvane
