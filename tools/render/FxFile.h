#pragma once
// Program (.fxp) and bank (.fxb) files for plug-ins that save their state as opaque chunks,
// as a host reads and writes them: a big-endian header followed by the plug-in's chunk.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::render {

constexpr size_t kProgramFileHeader = 60;
constexpr size_t kBankFileHeader = 160;

struct FxFile {
    bool isBank = false;
    int32_t fxID = 0;
    int32_t fxVersion = 0;
    int32_t count = 0;        // numParams of a program, numPrograms of a bank
    std::string programName;  // programs only
    std::vector<uint8_t> chunk;
};

// Checks magic numbers and sizes; the chunk must lie wholly inside the data.
bool parseFxFile(const uint8_t* data, size_t size, FxFile& out, std::string& error);

std::vector<uint8_t> buildProgramFile(int32_t fxID, int32_t fxVersion, int32_t numParams,
                                      const std::string& name, const std::vector<uint8_t>& chunk);
std::vector<uint8_t> buildBankFile(int32_t fxID, int32_t fxVersion, int32_t numPrograms,
                                   const std::vector<uint8_t>& chunk);

// Whole-file helpers with one-line errors that name the file.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error,
                   size_t maxBytes = 64u << 20);
bool writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error);

std::string fourCCText(int32_t id);

}  // namespace corvane::render
