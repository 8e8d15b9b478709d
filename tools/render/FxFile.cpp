#include "FxFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corvane::render {

namespace {
constexpr int32_t kChunkMagic = 0x43636E4B;     // "CcnK"
constexpr int32_t kProgramChunk = 0x46504368;   // "FPCh"
constexpr int32_t kBankChunk = 0x46424368;      // "FBCh"
constexpr int32_t kProgramParams = 0x4678436B;  // "FxCk"
constexpr int32_t kBankParams = 0x4678426B;     // "FxBk"

int32_t be32(const uint8_t* p) {
    return static_cast<int32_t>((uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
                                (uint32_t(p[2]) << 8) | p[3]);
}
void putBe32(uint8_t* p, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u >> 24);
    p[1] = static_cast<uint8_t>(u >> 16);
    p[2] = static_cast<uint8_t>(u >> 8);
    p[3] = static_cast<uint8_t>(u);
}
}  // namespace

std::string fourCCText(int32_t id) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((static_cast<uint32_t>(id) >> shift) & 0xFF);
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}

bool parseFxFile(const uint8_t* data, size_t size, FxFile& out, std::string& error) {
    out = FxFile{};
    if (size < 28 || be32(data) != kChunkMagic)
        return error = "not a VST program or bank file (no CcnK header)", false;
    const int32_t fxMagic = be32(data + 8);
    if (fxMagic == kProgramParams || fxMagic == kBankParams)
        return error = "parameter-list program and bank files are not supported, only chunk files",
               false;
    if (fxMagic != kProgramChunk && fxMagic != kBankChunk)
        return error = "not a VST program or bank file (unknown type " + fourCCText(fxMagic) + ")",
               false;
    out.isBank = fxMagic == kBankChunk;
    const size_t header = out.isBank ? kBankFileHeader : kProgramFileHeader;
    if (size < header) return error = "program or bank file is truncated", false;
    out.fxID = be32(data + 16);
    out.fxVersion = be32(data + 20);
    out.count = be32(data + 24);
    if (!out.isBank) {
        char name[29] = {};
        std::memcpy(name, data + 28, 28);
        out.programName = name;
    }
    const int32_t chunkSize = be32(data + header - 4);
    if (chunkSize <= 0 || static_cast<size_t>(chunkSize) > size - header)
        return error = "program or bank file is truncated (its chunk size is " +
                       std::to_string(chunkSize) + " bytes, the file holds " +
                       std::to_string(size - header) + ")",
               false;
    out.chunk.assign(data + header, data + header + chunkSize);
    return true;
}

std::vector<uint8_t> buildProgramFile(int32_t fxID, int32_t fxVersion, int32_t numParams,
                                      const std::string& name, const std::vector<uint8_t>& chunk) {
    std::vector<uint8_t> out(kProgramFileHeader + chunk.size(), 0);
    putBe32(&out[0], kChunkMagic);
    putBe32(&out[4], static_cast<int32_t>(chunk.size() + 52));
    putBe32(&out[8], kProgramChunk);
    putBe32(&out[12], 1);
    putBe32(&out[16], fxID);
    putBe32(&out[20], fxVersion);
    putBe32(&out[24], numParams);
    std::memcpy(&out[28], name.data(), std::min<size_t>(name.size(), 27));
    putBe32(&out[56], static_cast<int32_t>(chunk.size()));
    std::memcpy(&out[kProgramFileHeader], chunk.data(), chunk.size());
    return out;
}

std::vector<uint8_t> buildBankFile(int32_t fxID, int32_t fxVersion, int32_t numPrograms,
                                   const std::vector<uint8_t>& chunk) {
    std::vector<uint8_t> out(kBankFileHeader + chunk.size(), 0);
    putBe32(&out[0], kChunkMagic);
    putBe32(&out[4], static_cast<int32_t>(chunk.size() + 152));
    putBe32(&out[8], kBankChunk);
    putBe32(&out[12], 1);
    putBe32(&out[16], fxID);
    putBe32(&out[20], fxVersion);
    putBe32(&out[24], numPrograms);
    putBe32(&out[156], static_cast<int32_t>(chunk.size()));
    std::memcpy(&out[kBankFileHeader], chunk.data(), chunk.size());
    return out;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error,
                   size_t maxBytes) {
    out.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return error = "cannot open " + path + ": " + std::strerror(errno), false;
    uint8_t buffer[65536];
    size_t n;
    bool tooLarge = false;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        if (out.size() + n > maxBytes) {
            tooLarge = true;
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return error = "cannot read " + path + " (is it a folder?)", false;
    if (tooLarge) return error = path + " is too large", false;
    return true;
}

bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string& error) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return error = "cannot write " + path + ": " + std::strerror(errno), false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    const bool closed = std::fclose(f) == 0;
    if (!ok || !closed) return error = "cannot write " + path + " (disk full?)", false;
    return true;
}

}  // namespace corvane::render
