// Program and bank chunks, and the .fxp/.fxb files built on them.
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "content/Loader.h"
#include "platform/Paths.h"
#include "platform/Threads.h"
#include "shell/VstSynth.h"

namespace corvane {

namespace {

constexpr int32_t kFormatVersion = 20;
constexpr int kProgramFileHeader = 60;
constexpr int kBankFileHeader = 160;

// Chunk header fields (little-endian int32 at 4 × index).
enum HeaderField {
    kSlotsPerPatch = 0,
    kPatchCount = 1,
    kCurrentProgram = 2,
    kVoices = 3,
    kBendUp = 4,
    kBendDown = 5,
    kVersion = 6,
    kBankPage = 7,
    kDataVersion = 8,
};

int32_t readLe(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                static_cast<uint32_t>(p[2]) << 16 |
                                static_cast<uint32_t>(p[3]) << 24);
}
void writeLe(uint8_t* p, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(u >> (8 * i));
}
int32_t readBe(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 24 |
                                static_cast<uint32_t>(p[1]) << 16 |
                                static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]));
}
void writeBe(uint8_t* p, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(u >> (24 - 8 * i));
}
int32_t field(const uint8_t* chunk, HeaderField f) {
    return readLe(chunk + 4 * f);
}

// Whether a chunk of `size` bytes holds everything its header announces and fits the
// store: a program chunk holds one record; a bank chunk announces 1..128 records and
// holds them all. Bytes after what is needed are ignored (stored sessions may carry them).
bool chunkFits(const uint8_t* data, int64_t size, bool isPreset) {
    if (!data || size < kChunkHeaderSize) return false;
    if (isPreset) return size >= kProgramChunkSize;
    const int32_t count = field(data, kPatchCount);
    if (count < 1 || count > kNumPrograms) return false;
    return size >= kChunkHeaderSize + int64_t{count} * kPatchRecordSize;
}

// A damaged record must not make later readers run past its text fields.
void terminateTexts(PatchRecord& r) {
    r.name[sizeof r.name - 1] = 0;
    r.sampleFolder[sizeof r.sampleFolder - 1] = 0;
    r.sampleFile[sizeof r.sampleFile - 1] = 0;
}

int bendRange(int32_t semitones) {
    return semitones < 0 ? 0 : (semitones > 127 ? 127 : semitones);
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Bytes left in a file from the current position on; -1 when that cannot be told.
long bytesLeft(std::FILE* f) {
    const long at = std::ftell(f);
    if (at < 0 || std::fseek(f, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(f);
    if (std::fseek(f, at, SEEK_SET) != 0 || end < at) return -1;
    return end - at;
}

// Reads a chunk file: its header must carry our fxID and be followed by the chunk. A bank
// chunk is read at its full size. A program chunk must announce at least one record and
// the file must hold all it announces; one record is read and any bytes after it are
// left unread. Anything short or foreign answers false and nothing.
bool readChunkFile(const char* path, bool isPreset, std::unique_ptr<uint8_t[]>& chunk,
                   int32_t& size) {
    if (!path) return false;
    File f(platform::openRead(path));
    if (!f) return false;
    const int headerSize = isPreset ? kProgramFileHeader : kBankFileHeader;
    uint8_t header[kBankFileHeader];
    if (std::fread(header, 1, headerSize, f.get()) != static_cast<size_t>(headerSize)) return false;
    if (readBe(header + 16) != VstSynth::kUniqueId) return false;
    if (isPreset) {
        const int32_t announced = readBe(header + 56);
        if (announced < kProgramChunkSize || bytesLeft(f.get()) < announced) return false;
    }
    size = isPreset ? kProgramChunkSize : kBankChunkSize;
    chunk.reset(new (std::nothrow) uint8_t[size]);
    if (!chunk) return false;
    if (std::fread(chunk.get(), 1, size, f.get()) != static_cast<size_t>(size)) return false;
    return chunkFits(chunk.get(), size, isPreset);
}

bool writeFile(File f, const uint8_t* header, size_t headerSize, const void* chunk,
               size_t chunkSize) {
    bool ok = std::fwrite(header, 1, headerSize, f.get()) == headerSize;
    ok = ok && std::fwrite(chunk, 1, chunkSize, f.get()) == chunkSize;
    return std::fclose(f.release()) == 0 && ok;
}

// The fields a bank and a program file header share: the magic, the byte count after it,
// the file kind, the plug-in id, the program count and, last, the chunk size.
void fillHeader(uint8_t* header, int32_t headerSize, const char* kind, int32_t count,
                int32_t chunkSize) {
    std::memcpy(header, "CcnK", 4);
    writeBe(header + 4, chunkSize + headerSize - 8);
    std::memcpy(header + 8, kind, 4);
    writeBe(header + 12, 1);
    writeBe(header + 16, VstSynth::kUniqueId);
    writeBe(header + 20, 1);
    writeBe(header + 24, count);
    writeBe(header + headerSize - 4, chunkSize);
}

}  // namespace

int32_t VstSynth::getChunk(void** data, bool isPreset) {
    if (!data) return 0;
    uint8_t* buffer = chunkBuffer_.get();
    const int32_t size = isPreset ? kProgramChunkSize : kBankChunkSize;
    std::memset(buffer, 0, size);
    *data = buffer;

    writeLe(buffer + 4 * kSlotsPerPatch, kStoredSlots);
    writeLe(buffer + 4 * kPatchCount, isPreset ? 1 : kNumPrograms);
    writeLe(buffer + 4 * kCurrentProgram, engine.currentProgram);
    writeLe(buffer + 4 * kVoices, engine.voiceCount);
    writeLe(buffer + 4 * kBendUp, engine.bendRangeUp);
    writeLe(buffer + 4 * kBendDown, engine.bendRangeDown);
    writeLe(buffer + 4 * kVersion, kFormatVersion);
    writeLe(buffer + 4 * kBankPage, bankIndex);
    writeLe(buffer + 4 * kDataVersion, engine.dataVersion);

    if (isPreset)
        std::memcpy(buffer + kChunkHeaderSize, &engine.currentPatch(), kPatchRecordSize);
    else
        std::memcpy(buffer + kChunkHeaderSize, engine.patches.get(),
                    size_t{kNumPrograms} * kPatchRecordSize);
    return size;
}

// A chunk that does not hold what its header announces, or does not fit the store, is
// ignored whole and answers 0.
int32_t VstSynth::setChunk(void* data, int32_t byteSize, bool isPreset) {
    const uint8_t* chunk = static_cast<const uint8_t*>(data);
    if (!chunkFits(chunk, byteSize, isPreset)) {
        if (!isPreset) engine.bankFolderSet = 0;
        return 0;
    }
    engine.bendRangeUp = bendRange(field(chunk, kBendUp));
    engine.bendRangeDown = bendRange(field(chunk, kBendDown));

    // The store is overwritten only between blocks.
    while (inBlock.load())
        platform::yieldThread();

    if (isPreset) {
        PatchRecord& r = engine.currentPatch();
        std::memcpy(&r, chunk + kChunkHeaderSize, kPatchRecordSize);
        terminateTexts(r);
        engine.forceReload = 1;
        setProgram(engine.currentProgram);
        return kProgramChunkSize;
    }

    engine.dataVersion = field(chunk, kDataVersion);
    const int32_t count = field(chunk, kPatchCount);
    std::memcpy(engine.patches.get(), chunk + kChunkHeaderSize, size_t(count) * kPatchRecordSize);
    for (int32_t i = 0; i < count; ++i)
        terminateTexts(engine.patches[i]);
    // After a bank file: the bank's instruments are looked for next to it.
    engine.applyBankFolder(count);
    engine.forceReload = 1;
    selectProgramIndexed(field(chunk, kCurrentProgram) & 127);
    return kBankChunkSize;
}

bool VstSynth::loadBankFile(const char* path) {
    std::unique_ptr<uint8_t[]> chunk;
    int32_t size = 0;
    if (!readChunkFile(path, false, chunk, size)) return false;
    engine.setBankFolder(path);
    const int32_t remembered = curProgram;
    const bool ok = setChunk(chunk.get(), size, false) != 0;
    engine.bankFolderSet = 0;
    setProgram(remembered);
    return ok;
}

bool VstSynth::loadProgramFile(const char* path) {
    std::unique_ptr<uint8_t[]> chunk;
    int32_t size = 0;
    if (!readChunkFile(path, true, chunk, size)) return false;
    engine.setBankFolder(path);
    // The folder is for this file's own program; a later bank restore must not see it.
    engine.bankFolderSet = 0;
    return setChunk(chunk.get(), size, true) != 0;
}

bool VstSynth::saveBankFile(const char* path) {
    if (!path) return false;
    File f(platform::openWrite(path));
    if (!f) return false;
    void* chunk = nullptr;
    const int32_t size = getChunk(&chunk, false);
    uint8_t header[kBankFileHeader] = {};
    fillHeader(header, kBankFileHeader, "FBCh", kNumPrograms, size);
    return writeFile(std::move(f), header, sizeof header, chunk, size);
}

bool VstSynth::saveProgramFile(const char* path) {
    if (!path) return false;
    File f(platform::openWrite(path));
    if (!f) return false;  // the program keeps its name
    const std::string name = displayName(path, false, 32);
    setProgramName(name.c_str());

    void* chunk = nullptr;
    const int32_t size = getChunk(&chunk, true);
    uint8_t header[kProgramFileHeader] = {};
    fillHeader(header, kProgramFileHeader, "FPCh", kStoredSlots, size);
    const char* stored = engine.currentPatch().name;
    std::memcpy(header + 28, stored, strnlen(stored, 27));  // zero-filled to 28 bytes
    return writeFile(std::move(f), header, sizeof header, chunk, size);
}

}  // namespace corvane
