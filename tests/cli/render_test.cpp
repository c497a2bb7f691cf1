#include <gtest/gtest.h>

#include <vector>

#include "cli/render.h"

namespace {

// Inverts every byte of a block of `blockBytes`, and remembers the last block it saw.
class InvertingEffect : public VoiceEffect {
  public:
    explicit InvertingEffect(uint32_t blockBytes) : blockBytes_(blockBytes) {}
    int Prepare(const WaveFormat*) override { return prepareResult_; }
    void Release() override { ++releases; }
    int GetParams(EffectParam**, uint32_t* count) override {
        return ListParams({}, nullptr, count);
    }
    uint32_t GetBlockSize(const WaveFormat*) override { return blockBytes_; }
    int Process(const WaveFormat*, uint8_t* data, const uint32_t* byteCount) override {
        if (++blocks == failAtBlock)
            return 0;
        lastBlock.assign(data, data + *byteCount);
        for (uint32_t i = 0; i < *byteCount; ++i)
            data[i] = static_cast<uint8_t>(~data[i]);
        return 1;
    }

    int prepareResult_ = 1;
    int failAtBlock = -1;
    int blocks = 0;
    int releases = 0;
    std::vector<uint8_t> lastBlock;

  private:
    uint32_t blockBytes_;
};

WaveFormat Format(uint16_t bits) {
    WaveFormat f;
    f.channels = 1;
    f.samplesPerSec = 8000;
    f.bitsPerSample = bits;
    return f;
}

TEST(RenderEffect, ProcessesEveryBlockAndKeepsTheInputLength) {
    for (size_t length : {0u, 1u, 63u, 64u, 65u, 1000u}) {
        SCOPED_TRACE(length);
        InvertingEffect effect(64);
        std::vector<uint8_t> input(length);
        for (size_t i = 0; i < length; ++i)
            input[i] = static_cast<uint8_t>(i * 7);
        const RenderResult r = RenderEffect(effect, Format(16), input);
        ASSERT_TRUE(r.ok) << r.error;
        ASSERT_EQ(r.pcm.size(), length);
        for (size_t i = 0; i < length; ++i)
            EXPECT_EQ(r.pcm[i], static_cast<uint8_t>(~input[i]));
        EXPECT_EQ(effect.releases, 1);
    }
}

TEST(RenderEffect, PadsTheLastBlockWithSilenceOfTheWidth) {
    InvertingEffect effect(16);
    const std::vector<uint8_t> input(20, 0x11);
    ASSERT_TRUE(RenderEffect(effect, Format(8), input).ok);
    // Unsigned 8-bit silence is the mid value, not zero.
    std::vector<uint8_t> want(16, 0x80);
    std::fill(want.begin(), want.begin() + 4, 0x11);
    EXPECT_EQ(effect.lastBlock, want);

    InvertingEffect effect16(16);
    ASSERT_TRUE(RenderEffect(effect16, Format(16), input).ok);
    std::fill(want.begin() + 4, want.end(), 0x00);
    EXPECT_EQ(effect16.lastBlock, want);
}

TEST(RenderEffect, ReportsEveryRefusalAndReleasesTheEffect) {
    const std::vector<uint8_t> input(100, 1);
    InvertingEffect noBlock(0);
    RenderResult r = RenderEffect(noBlock, Format(16), input);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.empty());

    InvertingEffect unprepared(64);
    unprepared.prepareResult_ = 0;
    r = RenderEffect(unprepared, Format(16), input);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(unprepared.releases, 1);

    InvertingEffect failing(16);
    failing.failAtBlock = 3;
    r = RenderEffect(failing, Format(16), input);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.pcm.empty());
    EXPECT_EQ(failing.releases, 1);
}

}  // namespace
