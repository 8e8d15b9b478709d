// Program and bank files as the render tool writes and reads them: the published header
// layout, and damaged files rejected without reading past their end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FxFile.h"

using namespace corvane::render;

namespace {
int32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<int32_t>(uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 |
                                uint32_t(b[at + 2]) << 8 | b[at + 3]);
}
constexpr int32_t kId = 0x4352564E;  // "CRVN"
}  // namespace

TEST(FxFile, ProgramAndBankHeadersFollowThePublishedLayout) {
    const std::vector<uint8_t> chunk(100, 7);
    const auto fxp = buildProgramFile(kId, 1, 337, "A program name longer than 27 chars", chunk);
    ASSERT_EQ(fxp.size(), 160u);
    EXPECT_EQ(std::string(fxp.begin(), fxp.begin() + 4), "CcnK");
    EXPECT_EQ(be32(fxp, 4), 100 + 52);
    EXPECT_EQ(std::string(fxp.begin() + 8, fxp.begin() + 12), "FPCh");
    EXPECT_EQ(be32(fxp, 12), 1);
    EXPECT_EQ(be32(fxp, 16), kId);
    EXPECT_EQ(be32(fxp, 24), 337);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&fxp[28])), "A program name longer than ");
    EXPECT_EQ(be32(fxp, 56), 100);

    const auto fxb = buildBankFile(kId, 1, 128, chunk);
    ASSERT_EQ(fxb.size(), 260u);
    EXPECT_EQ(std::string(fxb.begin() + 8, fxb.begin() + 12), "FBCh");
    EXPECT_EQ(be32(fxb, 4), 100 + 152);
    EXPECT_EQ(be32(fxb, 24), 128);
    for (size_t i = 28; i < 156; ++i)
        EXPECT_EQ(fxb[i], 0) << i;
    EXPECT_EQ(be32(fxb, 156), 100);

    FxFile read;
    std::string error;
    ASSERT_TRUE(parseFxFile(fxp.data(), fxp.size(), read, error)) << error;
    EXPECT_FALSE(read.isBank);
    EXPECT_EQ(read.fxID, kId);
    EXPECT_EQ(read.chunk, chunk);
    ASSERT_TRUE(parseFxFile(fxb.data(), fxb.size(), read, error)) << error;
    EXPECT_TRUE(read.isBank);
    EXPECT_EQ(read.count, 128);
    EXPECT_EQ(read.chunk, chunk);
}

TEST(FxFile, DamagedFilesAreRejected) {
    const std::vector<uint8_t> chunk(100, 7);
    FxFile read;
    std::string error;

    auto truncated = buildProgramFile(kId, 1, 337, "x", chunk);
    truncated.pop_back();  // one byte short of the chunk size the header states
    EXPECT_FALSE(parseFxFile(truncated.data(), truncated.size(), read, error));
    EXPECT_NE(error.find("truncated"), std::string::npos);

    auto huge = buildBankFile(kId, 1, 128, chunk);
    huge[156] = 0x7F;  // chunk size far beyond the file
    EXPECT_FALSE(parseFxFile(huge.data(), huge.size(), read, error));
    huge[156] = 0xFF;  // negative chunk size
    EXPECT_FALSE(parseFxFile(huge.data(), huge.size(), read, error));

    auto params = buildProgramFile(kId, 1, 337, "x", chunk);
    params[8] = 'F', params[9] = 'x', params[10] = 'C', params[11] = 'k';
    EXPECT_FALSE(parseFxFile(params.data(), params.size(), read, error));
    EXPECT_NE(error.find("parameter-list"), std::string::npos);

    const std::vector<uint8_t> shortHeader = {'C', 'c', 'n', 'K', 0, 0, 0, 0, 'F', 'B', 'C', 'h'};
    EXPECT_FALSE(parseFxFile(shortHeader.data(), shortHeader.size(), read, error));
    const std::vector<uint8_t> other(200, 'Z');
    EXPECT_FALSE(parseFxFile(other.data(), other.size(), read, error));
    EXPECT_NE(error.find("CcnK"), std::string::npos);
}
