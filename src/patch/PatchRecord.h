#pragma once
#include <cstddef>
#include <cstdint>

#include "patch/Slots.h"

namespace corvane {

// One patch, exactly as stored in chunks and files (little-endian, 12780 bytes).
struct PatchRecord {
    char name[32];  // zero-terminated, at most 31 characters
    uint8_t reserved1[480];
    float slots[kStoredSlots];  // slot n at offset 512 + 4n
    uint8_t reserved2[700];
    uint8_t reservedArea[9000];  // 225 entries of 40 bytes, kept zero
    char sampleFolder[1000];     // folder of the instrument file, ending in a backslash
    char sampleFile[220];        // file name (or full path); empty = no instrument
};

static_assert(sizeof(PatchRecord) == 12780);
static_assert(offsetof(PatchRecord, slots) == 512);
static_assert(offsetof(PatchRecord, reservedArea) == 2560);
static_assert(offsetof(PatchRecord, sampleFolder) == 11560);
static_assert(offsetof(PatchRecord, sampleFile) == 12560);

constexpr int kPatchRecordSize = 12780;
constexpr int kChunkHeaderSize = 40;
constexpr int kProgramChunkSize = kChunkHeaderSize + kPatchRecordSize;              // 12820
constexpr int kBankChunkSize = kChunkHeaderSize + kNumPrograms * kPatchRecordSize;  // 1635880

}  // namespace corvane
