// Feeds arbitrary bytes to setChunk, both as they come and laid out to the sizes a host
// normally hands over, and checks that the store stays readable and displayable afterwards
// and that the restored patch renders finite audio.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "RenderCheck.h"
#include "shell/VstSynth.h"

namespace {

void checkStore(corvane::VstSynth& s) {
    for (int i = 0; i < corvane::kNumPrograms; ++i) {
        const corvane::PatchRecord& r = s.engine.patches[i];
        if (!memchr(r.name, 0, sizeof r.name) || !memchr(r.sampleFile, 0, sizeof r.sampleFile) ||
            !memchr(r.sampleFolder, 0, sizeof r.sampleFolder))
            __builtin_trap();
    }
    if (s.engine.currentProgram < 0 || s.engine.currentProgram > 127) __builtin_trap();
    char text[64];
    s.getProgramName(text);
    // The restored values, whatever they are, must display within the host's buffer.
    for (int slot = 0; slot < corvane::kNumParams; ++slot) {
        std::memset(text, 0x55, sizeof text);
        s.getParameterDisplay(slot, text);
        if (!memchr(text, 0, 32) || text[32] != 0x55) __builtin_trap();
    }
    void* data = nullptr;
    if (s.getChunk(&data, true) != corvane::kProgramChunkSize) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    corvane::VstSynth& s = fuzzcheck::synth();
    const uint8_t mode = data[0];
    const bool preset = mode & 1;
    ++data;
    --size;

    // As the bytes come: the chunk is exactly the input.
    std::unique_ptr<uint8_t[]> raw(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(raw.get(), data, size);
    s.setChunk(raw.get(), static_cast<int32_t>(size), preset);
    checkStore(s);
    fuzzcheck::renderAndCheck(s);

    // Laid out to a program, a full bank or a bank of a few records, zero-padded, with the
    // announced size off by a little now and then.
    static const int32_t kSizes[] = {corvane::kProgramChunkSize, corvane::kBankChunkSize,
                                     corvane::kChunkHeaderSize + 3 * corvane::kPatchRecordSize,
                                     corvane::kChunkHeaderSize};
    int32_t target = kSizes[(mode >> 1) & 3];
    if (mode & 0x10) target += (mode & 0x20) ? 1 : -1;
    std::vector<uint8_t> padded(static_cast<size_t>(target), 0);
    std::memcpy(padded.data(), data, size < padded.size() ? size : padded.size());
    s.setChunk(padded.data(), target, preset);
    checkStore(s);
    fuzzcheck::renderAndCheck(s);
    return 0;
}
