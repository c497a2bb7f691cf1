#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

#include "effects/pcm_convert.h"

using namespace qm;

namespace {

std::vector<uint8_t> Pcm16(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) {
        const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}

// Each width at its exact scale; a count that is not one frame of the width, or a width
// other than 8, 16 or 32 bits, gives a silent frame.
TEST(PcmToFloat, ScalesEachWidthExactlyAndOtherwiseStaysSilent) {
    const std::vector<float> floats = {0.25f, -3.5f, 1e-7f, 2.0f};
    std::vector<uint8_t> bytes32(16);
    std::memcpy(bytes32.data(), floats.data(), 16);
    struct Row {
        std::vector<uint8_t> bytes;
        uint16_t bits;
        std::vector<float> want;
    };
    const Row rows[] = {
        {{0, 128, 255, 64}, 8, {-1.0f, 0.0f, 0.9921875f, -0.5f}},
        {Pcm16({-32768, 0, 32767, 16384}), 16, {-1.0f, 0.0f, 32767.0f / 32768.0f, 0.5f}},
        {bytes32, 32, floats},
        // Five samples for a four-sample frame.
        {Pcm16({1000, 2000, 3000, 4000, 5000}), 16, {0, 0, 0, 0}},
        {Pcm16({1000, 2000, 3000, 4000, 5000, 6000}), 24, {0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        std::vector<float> x(4, 7.0f);
        PcmToFloat(row.bytes.data(), static_cast<uint32_t>(row.bytes.size()), row.bits, x);
        EXPECT_EQ(x, row.want) << row.bits << " bits, " << row.bytes.size() << " bytes";
    }
}

TEST(FloatToPcm, ClipsSixteenBitSymmetricallyAndTruncatesTowardZero) {
    const std::vector<float> x = {1.0f,
                                  -1.0f,
                                  2.0f,
                                  -2.0f,
                                  0.99999f,
                                  -0.5f / 32768.0f,
                                  1.7f / 32768.0f,
                                  std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity()};
    std::vector<uint8_t> out(2 * x.size() + 2, 0xAA);
    FloatToPcm(x, 16, out.data(), static_cast<uint32_t>(out.size()));
    // Bytes of the count past the N samples are cleared, not left as they were.
    EXPECT_EQ(out, Pcm16({32767, -32767, 32767, -32767, 32767, 0, 1, 0, 32767, 0}));
}

TEST(FloatToPcm, ClipsEightBitToItsUnsignedRangeAndLeavesUnknownWidthsSilent) {
    const std::vector<float> x = {-1.0f, 0.0f, 0.9921875f, 1.0f, -3.0f, -0.999f};
    std::vector<uint8_t> out(x.size(), 0x55);
    FloatToPcm(x, 8, out.data(), static_cast<uint32_t>(out.size()));
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 128, 255, 255, 0, 0}));
    out.assign(x.size(), 0x55);
    FloatToPcm(x, 24, out.data(), static_cast<uint32_t>(out.size()));
    EXPECT_EQ(out, std::vector<uint8_t>(x.size(), 0));
}

}  // namespace
