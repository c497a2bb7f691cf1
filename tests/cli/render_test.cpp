#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "cli/render.h"
#include "effects/effect_registry.h"

using namespace qm;

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

namespace {

// A real effect delays its output (a vocoder effect by a frame less one hop, Male2Female by
// the quarter block of its cross-fade); the runner must remove exactly that, as the live path
// must flush exactly that at the end. With every parameter at 0 these effects leave the pitch
// alone (Elder without tremolo, Male2Female without either shift), so the output lines up with
// the input: the cross-correlation must peak at lag 0 (Male2Female's resynthesis and speed
// change place the waveform a few samples off, under 0.25 ms, which nobody hears). A delay
// figure off by a fraction of a block moves the peak out of the searched lags.
struct DelayCase {
    const char* effect;
    int toleranceSamples;
};
class RenderEffectDelay : public testing::TestWithParam<DelayCase> {};

TEST_P(RenderEffectDelay, RemovesTheEffectsOwnDelay) {
    VoiceEffect* effect = EffectRegistry::Instance().FindByName(GetParam().effect);
    ASSERT_NE(effect, nullptr);
    EffectParam* params[4] = {};
    uint32_t count = 4;
    ASSERT_EQ(effect->GetParams(params, &count), 1);
    for (uint32_t i = 0; i < count; ++i)
        params[i]->SetValue(0);

    WaveFormat format;
    format.channels = 1;
    format.samplesPerSec = 44100;
    format.bitsPerSample = 16;
    const size_t samples = 44100;
    std::vector<uint8_t> input(2 * samples);
    std::vector<double> x(samples);
    for (size_t i = 0; i < samples; ++i) {
        // A glide from 200 Hz to 1.5 kHz: no two lags look alike, and all of it lies below
        // Elder's 4 kHz band limit.
        const double t = static_cast<double>(i) / 44100.0;
        x[i] = 0.4 * std::sin(2 * M_PI * (200 * t + 650 * t * t));
        const auto s = static_cast<uint16_t>(static_cast<int16_t>(x[i] * 32767));
        input[2 * i] = static_cast<uint8_t>(s & 0xFF);
        input[2 * i + 1] = static_cast<uint8_t>(s >> 8);
    }
    const RenderResult r = RenderEffect(*effect, format, input);
    effect->Reset();
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(r.pcm.size(), input.size());

    auto y = [&](size_t i) {
        return static_cast<double>(
            static_cast<int16_t>(static_cast<uint16_t>(r.pcm[2 * i] | (r.pcm[2 * i + 1] << 8))));
    };
    int bestLag = 1 << 30;
    double best = -1e300;
    for (int lag = -1500; lag <= 1500; ++lag) {
        double sum = 0;
        for (size_t i = 2000; i + 2000 < samples; ++i)
            sum += x[i] * y(static_cast<size_t>(static_cast<long>(i) + lag));
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    EXPECT_LE(std::abs(bestLag), GetParam().toleranceSamples) << "peak at lag " << bestLag;
}
INSTANTIATE_TEST_SUITE_P(Effects, RenderEffectDelay,
                         testing::Values(DelayCase{"Elder", 0}, DelayCase{"Male2Female", 10}));

}  // namespace
