// Writes arbitrary bytes as a .fxp or .fxb file and loads it, as they come and padded to
// the length a valid file has; whatever was restored must render finite audio.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "RenderCheck.h"
#include "shell/VstSynth.h"

namespace {

std::string tempPath(bool bank) {
    return "/tmp/corvane_fuzz_" + std::to_string(getpid()) + (bank ? ".fxb" : ".fxp");
}

void removeTempFiles() {
    std::remove(tempPath(true).c_str());
    std::remove(tempPath(false).c_str());
}

bool writeBytes(const std::string& path, const uint8_t* data, size_t size, size_t padTo) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    if (size) std::fwrite(data, 1, size, f);
    static const std::vector<uint8_t> zeros(2 * 1024 * 1024, 0);
    if (padTo > size) std::fwrite(zeros.data(), 1, padTo - size, f);
    std::fclose(f);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const bool cleanup = (std::atexit(removeTempFiles), true);
    (void)cleanup;
    corvane::VstSynth& s = fuzzcheck::synth();
    const uint8_t mode = data[0];
    const bool bank = mode & 1;
    ++data;
    --size;
    // Optionally give the file a valid header start (magic and our ID), so that the
    // fuzzer reaches the chunk itself.
    std::vector<uint8_t> bytes(data, data + size);
    if (mode & 2) {
        const size_t header = bank ? 160 : 60;
        if (bytes.size() < header) bytes.resize(header, 0);
        std::memcpy(bytes.data(), "CcnK", 4);
        std::memcpy(bytes.data() + 8, bank ? "FBCh" : "FPCh", 4);
        std::memcpy(bytes.data() + 16, "CRVN", 4);
        if (!bank) {
            const uint8_t size12820[4] = {0, 0, 0x32, 0x14};
            if (!(mode & 8)) std::memcpy(bytes.data() + 56, size12820, 4);
        }
    }
    size_t padTo = 0;
    if (mode & 4) padTo = bank ? 160 + corvane::kBankChunkSize : 60 + corvane::kProgramChunkSize;
    const std::string path = tempPath(bank);
    if (!writeBytes(path, bytes.data(), bytes.size(), padTo)) return 0;
    if (bank)
        s.loadBankFile(path.c_str());
    else
        s.loadProgramFile(path.c_str());
    if (s.engine.bankFolderSet) __builtin_trap();
    char name[64];
    s.getProgramName(name);
    if (!memchr(name, 0, 32)) __builtin_trap();
    fuzzcheck::renderAndCheck(s);
    return 0;
}
