#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/arrays_internal.h"
#include "dsp/glottal_signals.h"
#include "dsp/overlap_add.h"
#include "dsp/resample.h"
#include "dsp/test_signals.h"
#include "effects/male_to_female.h"
#include "effects/phase_vocoder_internal.h"
#include "test_allocations.h"

using namespace qm;

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kBlock = 8192;  // frames per block at 44100 Hz
constexpr uint32_t kOverlap = kBlock / 4;

WaveFormat Format(uint16_t channels, uint16_t bits = 16, uint32_t rate = kRate) {
    WaveFormat f;
    f.formatTag = 1;
    f.channels = channels;
    f.samplesPerSec = rate;
    f.bitsPerSample = bits;
    f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.avgBytesPerSec = rate * f.blockAlign;
    return f;
}

std::vector<int16_t> Vowel(double f0, double seconds) {
    return test_signals::SteadyVowel(kRate, f0, seconds);
}

// A prepared effect that is released when the test ends.
struct Prepared {
    MaleToFemaleEffect effect;
    WaveFormat format;
    uint32_t blockBytes = 0;
    explicit Prepared(const WaveFormat& f, int32_t pitchShift = 10, int32_t toneShift = 4)
        : format(f) {
        blockBytes = effect.GetBlockSize(&format);
        EXPECT_EQ(effect.Prepare(&format), 1);
        EffectParam* params[2] = {};
        uint32_t count = 2;
        EXPECT_EQ(effect.GetParams(params, &count), 1);
        params[0]->SetValue(pitchShift);
        params[1]->SetValue(toneShift);
    }
    ~Prepared() { effect.Release(); }
    int Process(std::vector<int16_t>& interleaved, size_t firstSample, uint32_t bytes) {
        return effect.Process(&format, reinterpret_cast<uint8_t*>(&interleaved[firstSample]),
                              &bytes);
    }
};

// Mono stream through whole blocks; the output is as long as the input (a multiple of blocks).
std::vector<int16_t> RunMono(std::vector<int16_t> pcm, int32_t pitchShift, int32_t toneShift) {
    Prepared p(Format(1), pitchShift, toneShift);
    pcm.resize((pcm.size() + kBlock - 1) / kBlock * kBlock, 0);
    for (size_t b = 0; b < pcm.size(); b += kBlock)
        EXPECT_EQ(p.Process(pcm, b, p.blockBytes), 1);
    return pcm;
}

// What the first block must hold after the quarter block of silence: the library's two calls
// on the block between 640 zeros on each side, from sample 640 on.
std::vector<int16_t> FirstBlockOracle(const std::vector<int16_t>& mono, float pitch, float tone) {
    std::vector<int16_t> context(640, 0);
    context.insert(context.end(), mono.begin(), mono.begin() + kBlock);
    context.resize(context.size() + 640, 0);
    int16_t* raw = nullptr;
    const int32_t rawBytes = ChangePitchDurationPcm16(
        context.data(), static_cast<int32_t>(2 * context.size()), &raw, kRate, tone, pitch, 16);
    EXPECT_GT(rawBytes, 0);
    int16_t* fast = nullptr;
    const int32_t fastBytes = ChangeSpeedPcm16(raw, rawBytes, &fast, kRate, tone);
    std::vector<int16_t> expected(kBlock - kOverlap, 0);
    for (size_t k = 0; k < expected.size() && 640 + k < static_cast<size_t>(fastBytes / 2); ++k)
        expected[k] = fast[640 + k];
    delete[] raw;
    delete[] fast;
    return expected;
}

struct ShiftCase {
    int32_t pitchShift;
    int32_t toneShift;
};
class MaleToFemalePitch : public testing::TestWithParam<ShiftCase> {};

// The fundamental rises by PitchShift + ToneShift semitones (the resynthesis moves it by the
// first, the speed change by the second). The meter reads steady vowels to well under 1 %;
// 3 % leaves room for the block joins inside the measured stretch.
TEST_P(MaleToFemalePitch, RaisesTheFundamentalByBothShifts) {
    const ShiftCase c = GetParam();
    const double f0 = 105.0;
    const std::vector<int16_t> out = RunMono(Vowel(f0, 2.0), c.pitchShift, c.toneShift);
    const double expected = f0 * std::pow(2.0, (c.pitchShift + c.toneShift) / 12.0);
    const double measured = glottal_signals::MedianPitchHz(out, kRate, 0.4, 1.6);
    EXPECT_NEAR(measured, expected, 0.03 * expected);
}
INSTANTIATE_TEST_SUITE_P(Shifts, MaleToFemalePitch,
                         testing::Values(ShiftCase{10, 4}, ShiftCase{0, 0}, ShiftCase{12, 0},
                                         ShiftCase{0, 7}, ShiftCase{15, 12}));

// At 0 and 0 the stream is the input a quarter block late, joined by cross-fades whose two
// Hamming halves add up to about 1.08: it must match the input closely across every seam.
TEST(MaleToFemale, NeutralSettingsDelayTheInputByAQuarterBlock) {
    const std::vector<int16_t> in = Vowel(130.0, 1.5);
    const std::vector<int16_t> out = RunMono(in, 0, 0);
    double dot = 0.0, nin = 0.0, nout = 0.0;
    for (size_t i = kBlock; i + kOverlap < in.size(); ++i) {
        const double a = in[i];
        const double b = out[i + kOverlap];
        dot += a * b;
        nin += a * a;
        nout += b * b;
    }
    EXPECT_GT(dot / std::sqrt(nin * nout), 0.9);
    EXPECT_NEAR(std::sqrt(nout / nin), 1.0, 0.1);
}

struct ChannelCase {
    uint16_t channels;
};
class MaleToFemaleFirstBlock : public testing::TestWithParam<ChannelCase> {};

// First block at 44100 Hz: 2048 silent frames, then the first 6144 processed samples, the same
// value in every channel whatever the other channels carried.
TEST_P(MaleToFemaleFirstBlock, QuarterBlockOfSilenceThenTheProcessedSamples) {
    const uint16_t channels = GetParam().channels;
    const std::vector<int16_t> mono = Vowel(110.0, 0.2);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> other(-20000, 20000);
    std::vector<int16_t> block(kBlock * channels);
    for (uint32_t j = 0; j < kBlock; ++j) {
        block[j * channels] = mono[j];
        for (uint16_t c = 1; c < channels; ++c)
            block[j * channels + c] = static_cast<int16_t>(other(rng));
    }
    Prepared p(Format(channels));
    ASSERT_EQ(p.blockBytes, 2 * kBlock * channels);
    ASSERT_EQ(p.Process(block, 0, p.blockBytes), 1);
    const std::vector<int16_t> expected =
        FirstBlockOracle(mono, vocoder::PitchFactor(10), vocoder::PitchFactor(4));
    for (uint32_t j = 0; j < kBlock; ++j) {
        const int16_t want = j < kOverlap ? 0 : expected[j - kOverlap];
        for (uint16_t c = 0; c < channels; ++c)
            ASSERT_EQ(block[j * channels + c], want) << "frame " << j << " channel " << c;
    }
}
INSTANTIATE_TEST_SUITE_P(Channels, MaleToFemaleFirstBlock,
                         testing::Values(ChannelCase{1}, ChannelCase{2}, ChannelCase{4}));

TEST(MaleToFemale, RefusesWhatItCannotTakeAndLeavesTheDataAlone) {
    std::vector<int16_t> block = Vowel(110.0, 0.2);
    block.resize(kBlock);
    const std::vector<int16_t> original = block;
    {
        Prepared p(Format(1, 8));
        EXPECT_EQ(p.Process(block, 0, kBlock), 0);  // 8-bit
    }
    Prepared p(Format(1));
    EXPECT_EQ(p.Process(block, 0, 0), 0);               // empty
    EXPECT_EQ(p.Process(block, 0, 2 * kBlock + 2), 0);  // longer than a block
    MaleToFemaleEffect unprepared;
    uint32_t bytes = 2 * kBlock;
    EXPECT_EQ(unprepared.Process(&p.format, reinterpret_cast<uint8_t*>(block.data()), &bytes), 0);
    EXPECT_EQ(block, original);
}

// A library failure refuses the block untouched; the next block goes on as a continuing block
// with the tails intact. ToneShift has no range check of its own: at 100 semitones the duration
// factor is far outside what the resynthesis takes.
TEST(MaleToFemale, LibraryFailureLeavesTheBlockAndTheNextOneWorks) {
    std::vector<int16_t> stream = Vowel(110.0, 3.0 * kBlock / kRate + 0.01);
    stream.resize(3 * kBlock);
    Prepared p(Format(1));
    ASSERT_EQ(p.Process(stream, 0, p.blockBytes), 1);
    const std::vector<int16_t> second(stream.begin() + kBlock, stream.begin() + 2 * kBlock);
    EffectParam* params[2] = {};
    uint32_t count = 2;
    ASSERT_EQ(p.effect.GetParams(params, &count), 1);
    params[1]->SetValue(100);
    EXPECT_EQ(p.Process(stream, kBlock, p.blockBytes), 0);
    EXPECT_TRUE(std::equal(second.begin(), second.end(), stream.begin() + kBlock));
    p.effect.Reset();
    ASSERT_EQ(p.Process(stream, 2 * kBlock, p.blockBytes), 1);
    // A continuing block writes all of its frames, and a voiced one is far from silent.
    double energy = 0.0;
    for (uint32_t j = 2 * kBlock; j < 3 * kBlock; ++j)
        energy += static_cast<double>(stream[j]) * stream[j];
    EXPECT_GT(std::sqrt(energy / kBlock), 500.0);
}

// The streaming thread must not touch the heap: with every heap block of the library refused
// and operator new counted, a run of voiced, silent and noisy blocks (first and continuing,
// stereo, at the highest shifts) still succeeds without a single allocation.
TEST(MaleToFemale, ProcessAllocatesNothing) {
    std::vector<int16_t> voice = Vowel(180.0, 0.6);
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> noise(-9000, 9000);
    std::vector<int16_t> stereo(2 * 5 * kBlock, 0);
    for (uint32_t j = 0; j < 5 * kBlock; ++j) {
        const int16_t v = j < voice.size() ? voice[j] : j > 4 * kBlock ? 0 : noise(rng);
        stereo[2 * j] = stereo[2 * j + 1] = v;
    }
    Prepared p(Format(2), 15, 12);
    const long before = test_allocations::Count();
    SetBlockAllocationFailureAfter(0);
    int processed = 0;
    for (uint32_t b = 0; b < 5; ++b)
        processed += p.Process(stereo, 2 * b * kBlock, p.blockBytes);
    SetBlockAllocationFailureAfter(-1);
    EXPECT_EQ(processed, 5);
    EXPECT_EQ(test_allocations::Count(), before);
}

// Shorter blocks than whole ones, and an odd byte count, stay inside their bytes: guard values
// around them must survive, and every written frame keeps its channels equal.
TEST(MaleToFemale, ShortBlocksStayInsideTheirBytes) {
    const std::vector<int16_t> mono = Vowel(110.0, 0.2);
    for (uint32_t frames : {1u, 100u, kOverlap - 1, kOverlap + 1, kBlock - 1}) {
        Prepared p(Format(2));
        std::vector<int16_t> buffer(2 * kBlock + 16, 0x5A5A);
        for (uint32_t j = 0; j < frames; ++j)
            buffer[8 + 2 * j] = buffer[8 + 2 * j + 1] = mono[j];
        const uint32_t bytes = 4 * frames + 1;  // an odd last byte is left alone
        ASSERT_EQ(p.Process(buffer, 8, bytes), 1) << frames;
        for (size_t i = 0; i < 8; ++i)
            ASSERT_EQ(buffer[i], 0x5A5A) << "before the block, " << frames << " frames";
        for (size_t i = 8 + 2 * frames; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0x5A5A) << "after the block, " << frames << " frames";
        for (uint32_t j = 0; j < frames; ++j)
            ASSERT_EQ(buffer[8 + 2 * j], buffer[8 + 2 * j + 1]);
    }
}

}  // namespace
