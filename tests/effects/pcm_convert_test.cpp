#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "effects/pcm_convert.h"

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

int16_t Sample16(const std::vector<uint8_t>& data, size_t i) {
    return static_cast<int16_t>(static_cast<uint16_t>(data[2 * i] | (data[2 * i + 1] << 8)));
}

TEST(PcmToFloat, ScalesEachWidthExactly) {
    std::vector<float> x(4);
    const std::vector<uint8_t> bytes8 = {0, 128, 255, 64};
    PcmToFloat(bytes8.data(), 4, 8, x);
    EXPECT_EQ(x, (std::vector<float>{-1.0f, 0.0f, 0.9921875f, -0.5f}));

    const auto bytes16 = Pcm16({-32768, 0, 32767, 16384});
    PcmToFloat(bytes16.data(), 8, 16, x);
    EXPECT_EQ(x, (std::vector<float>{-1.0f, 0.0f, 32767.0f / 32768.0f, 0.5f}));

    const std::vector<float> floats = {0.25f, -3.5f, 1e-7f, 2.0f};
    std::vector<uint8_t> bytes32(16);
    std::memcpy(bytes32.data(), floats.data(), 16);
    PcmToFloat(bytes32.data(), 16, 32, x);
    EXPECT_EQ(x, floats);
}

TEST(PcmToFloat, StaysSilentWhenTheCountIsNotOneFrameOrTheWidthIsUnknown) {
    std::vector<float> x(2, 7.0f);
    const auto bytes16 = Pcm16({1000, 2000, 3000});
    PcmToFloat(bytes16.data(), 6, 16, x);  // three samples for a two-sample frame
    EXPECT_EQ(x, (std::vector<float>(2, 0.0f)));

    x.assign(2, 7.0f);
    PcmToFloat(bytes16.data(), 6, 24, x);
    EXPECT_EQ(x, (std::vector<float>(2, 0.0f)));
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
    const std::vector<int> want = {32767, -32767, 32767, -32767, 32767, 0, 1, 0, 32767};
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(Sample16(out, i), want[i]) << i;
    // Bytes of the count past the N samples are cleared, not left as they were.
    EXPECT_EQ(out[out.size() - 1], 0);
}

TEST(FloatToPcm, ClipsEightBitToItsUnsignedRange) {
    const std::vector<float> x = {-1.0f, 0.0f, 0.9921875f, 1.0f, -3.0f, -0.999f};
    std::vector<uint8_t> out(x.size());
    FloatToPcm(x, 8, out.data(), static_cast<uint32_t>(out.size()));
    EXPECT_EQ(out, (std::vector<uint8_t>{0, 128, 255, 255, 0, 0}));
}

TEST(FloatToPcm, LeavesUnknownWidthsSilent) {
    const std::vector<float> x = {0.5f, 0.5f};
    std::vector<uint8_t> out(6, 0x55);
    FloatToPcm(x, 24, out.data(), 6);
    EXPECT_EQ(out, std::vector<uint8_t>(6, 0));
}

}  // namespace
