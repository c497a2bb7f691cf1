#include "filter/effect_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "effects/effect_registry.h"
#include "filter/stream_helpers.h"
#include "filter/test_effect.h"

namespace {

// Feeds the input through Transform in buffers of `bufferBytes` (0: random sizes from 0 to
// three blocks, with 0 and 1 byte often), then drains in pieces of `drainBytes`.
std::vector<uint8_t> RunStream(EffectStage& stage, const std::vector<uint8_t>& input,
                               size_t bufferBytes, size_t drainBytes, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    size_t at = 0;
    while (at < input.size()) {
        size_t n = bufferBytes;
        if (n == 0) {
            const size_t r = rng() % 8;
            n = r == 0 ? 0 : r == 1 ? 1 : rng() % (3 * stage.BlockBytes() + 1);
        }
        n = std::min(n, input.size() - at);
        std::vector<uint8_t> buffer(input.begin() + static_cast<std::ptrdiff_t>(at),
                                    input.begin() + static_cast<std::ptrdiff_t>(at + n));
        EXPECT_TRUE(stage.Transform(buffer));
        out.insert(out.end(), buffer.begin(), buffer.end());
        at += n;
    }
    std::vector<uint8_t> piece(drainBytes);
    while (const size_t n = stage.Drain(piece))
        out.insert(out.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
    return out;
}

struct StreamRow {
    const char* name;
    WaveFormat format;
    uint32_t blockBytes;
    uint32_t gap;  // bits × rate / 8 / block + 1, capped at 38: channels do not count
    size_t bufferBytes;
    size_t inputBytes;
};

class StageStream : public ::testing::TestWithParam<StreamRow> {};

// Every input byte comes out processed, in order, exactly once, after the silent lead-in:
// buffers longer than the ring's room, one-byte and empty buffers, the capped gap and the
// largest block included. The drain hands out the rest.
TEST_P(StageStream, DeliversLeadInThenEveryByteProcessed) {
    const StreamRow& row = GetParam();
    AddEffect fx(row.blockBytes);
    auto stage = std::make_unique<EffectStage>();
    stage->SetEffect(&fx);
    Connect(*stage, row.format);
    ASSERT_TRUE(stage->Processing());
    ASSERT_EQ(stage->Gap(), row.gap);
    const uint8_t silence = row.format.bitsPerSample == 8 ? 0x80 : 0x00;
    const size_t leadIn = size_t{row.gap} * row.blockBytes;
    EXPECT_EQ(stage->PendingBytes(), leadIn);

    const auto input = Noise(row.inputBytes, row.blockBytes);
    const auto out = RunStream(*stage, input, row.bufferBytes, 4000);
    EXPECT_EQ(out.size(), leadIn + input.size());
    EXPECT_EQ(FirstDifference(out, LeadInThen(leadIn, silence, input, 1)), SIZE_MAX);
    EXPECT_EQ(fx.misuse, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, StageStream,
    ::testing::Values(StreamRow{"Stereo44100TenMs", Pcm(44100, 2, 16), 4096, 22, 1764, 200000},
                      StreamRow{"Stereo44100HalfSecond", Pcm(44100, 2, 16), 4096, 22, 88200,
                                441000},
                      StreamRow{"Mono44100CappedGap", Pcm(44100, 1, 16), 2048, 38, 88200, 300000},
                      StreamRow{"Mono22050OneByteBuffers", Pcm(22050, 1, 16), 1024, 38, 1, 5000},
                      StreamRow{"EightBitSilentLeadIn", Pcm(8000, 1, 8), 256, 32, 80, 20000},
                      StreamRow{"RandomBuffers", Pcm(48000, 2, 16), 8192, 12, 0, 400000},
                      StreamRow{"LargestBlock", Pcm(48000, 2, 32), 163840, 2, 7777, 500000}),
    [](const auto& info) { return std::string(info.param.name); });

struct IndexRow {
    int32_t index;
    const char* name;     // null: no effect
    uint32_t blockBytes;  // at 44100 Hz, 16 bits, stereo
    uint32_t gap;         // 88200 / blockBytes + 1
};

class StageIndex : public ::testing::TestWithParam<IndexRow> {};

// The recorder's numbers reach these registry entries (their audio is not looked at here).
TEST_P(StageIndex, SelectsTheTableEntry) {
    const IndexRow& row = GetParam();
    auto stage = std::make_unique<EffectStage>();
    Connect(*stage, Pcm(44100, 2, 16));
    stage->SelectEffect(row.index);
    VoiceEffect* effect = stage->CurrentEffect();
    EXPECT_EQ(stage->BlockBytes(), row.blockBytes);
    EXPECT_EQ(stage->Gap(), row.gap);
    if (row.name == nullptr) {
        EXPECT_EQ(effect, nullptr);
        EXPECT_EQ(EffectGuidTextForIndex(row.index), nullptr);
        // No effect: the buffer leaves unchanged and without delay.
        auto buffer = Noise(5000, 3);
        const auto before = buffer;
        EXPECT_FALSE(stage->Transform(buffer));
        EXPECT_EQ(buffer, before);
        EXPECT_EQ(stage->Drain(buffer), 0u);
        return;
    }
    ASSERT_NE(effect, nullptr);
    EXPECT_STREQ(effect->GetName(), row.name);
    EXPECT_EQ(RecorderIndexOf(*effect), row.index);
    EXPECT_EQ(EffectForRecorderIndex(row.index), effect);
    stage->SelectEffect(-1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StageIndex,
    ::testing::Values(IndexRow{-2, nullptr, 4096, 22}, IndexRow{-1, nullptr, 4096, 22},
                      IndexRow{0, nullptr, 4096, 22}, IndexRow{1, "Baby", 4096, 22},
                      IndexRow{2, "Elder", 4096, 22}, IndexRow{3, "FemaletoMale", 4096, 22},
                      IndexRow{4, "Robot", 8192, 11}, IndexRow{5, "Male2Female", 32768, 3},
                      IndexRow{6, nullptr, 4096, 22}));

TEST(StageIndex, NoIndexReachesTheOtherEffects) {
    for (const char* name : {"Monster", "Ghost", "Strange Voice"}) {
        VoiceEffect* effect = EffectRegistry::Instance().FindByName(name);
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(RecorderIndexOf(*effect), 0) << name;
    }
}

// Mono 44100 Hz with the base block rule: one second is 43 blocks, more than the ring can
// keep ahead of the reader, so the lead-in is capped.
TEST(EffectStage, BabyAtMono44100HasTheCappedGap) {
    auto stage = std::make_unique<EffectStage>();
    stage->SelectEffect(1);
    Connect(*stage, Pcm(44100, 1, 16));
    EXPECT_EQ(stage->BlockBytes(), 2048u);
    EXPECT_EQ(stage->Gap(), 38u);
    stage->SelectEffect(0);
}

// Before the first connection the format is all zero: Male2Female has no block size and the
// stage passes audio through; the connection then sizes it (16384 bytes, gap 6).
TEST(EffectStage, Male2FemaleSelectedBeforeTheConnection) {
    auto stage = std::make_unique<EffectStage>();
    stage->SelectEffect(5);
    EXPECT_EQ(stage->BlockBytes(), 0u);
    EXPECT_FALSE(stage->Processing());
    auto buffer = Noise(3000, 4);
    const auto before = buffer;
    EXPECT_FALSE(stage->Transform(buffer));
    EXPECT_EQ(buffer, before);
    Connect(*stage, Pcm(44100, 1, 16));
    EXPECT_EQ(stage->BlockBytes(), 16384u);
    EXPECT_EQ(stage->Gap(), 6u);
    stage->SelectEffect(-1);
}

// Selecting before or after the format gives the same stream; before it, audio passes.
TEST(EffectStage, SelectionBeforeOrAfterTheFormat) {
    const auto input = Noise(100000, 5);
    for (const bool selectFirst : {true, false}) {
        AddEffect fx(4096, 3);
        auto stage = std::make_unique<EffectStage>();
        if (selectFirst) {
            stage->SetEffect(&fx);
            EXPECT_EQ(fx.lastRate, 0u);
            auto early = Noise(500, 6);
            const auto before = early;
            EXPECT_FALSE(stage->Transform(early));
            EXPECT_EQ(early, before);
        }
        Connect(*stage, Pcm(44100, 2, 16));
        if (!selectFirst)
            stage->SetEffect(&fx);
        EXPECT_EQ(fx.lastRate, 44100u);
        const auto out = RunStream(*stage, input, 1764, 1 << 20);
        EXPECT_EQ(FirstDifference(out, LeadInThen(22 * 4096, 0, input, 3)), SIZE_MAX)
            << "select first: " << selectFirst;
        EXPECT_EQ(fx.misuse, 0u);
    }
}

// Selecting again (even the same effect) or a new connection discards what the ring holds
// and starts a new lead-in; the effect is released and prepared again.
TEST(EffectStage, ReselectionAndReconnectionRestartTheLeadIn) {
    for (const bool reconnect : {false, true}) {
        AddEffect fx(4096);
        auto stage = std::make_unique<EffectStage>();
        Connect(*stage, Pcm(44100, 2, 16));
        stage->SetEffect(&fx);
        auto first = Noise(50000, 7);
        stage->Transform(first);
        const uint32_t releases = fx.releases, prepares = fx.prepares;
        if (reconnect) {
            Connect(*stage, Pcm(44100, 2, 16));
        } else {
            stage->SetEffect(&fx);
        }
        EXPECT_EQ(fx.releases, releases + 1);
        EXPECT_EQ(fx.prepares, prepares + 1);
        const auto input = Noise(90112 + 100, 8);
        auto buffer = input;
        stage->Transform(buffer);
        EXPECT_TRUE(
            std::all_of(buffer.begin(), buffer.begin() + 90112, [](uint8_t x) { return x == 0; }))
            << "reconnect: " << reconnect;
        for (size_t i = 90112; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], static_cast<uint8_t>(input[i - 90112] + 1));
    }
}

// Block sizes the ring cannot hold never reach Prepare, the ring or Process: audio passes.
TEST(EffectStage, UnusableBlockSizesPassAudioThrough) {
    for (const uint32_t blockBytes : {0u, BlockFifo::kMaxBlockBytes + 1, 0xFFFFFFFFu}) {
        AddEffect fx(blockBytes);
        auto stage = std::make_unique<EffectStage>();
        Connect(*stage, Pcm(44100, 2, 16));
        stage->SetEffect(&fx);
        EXPECT_FALSE(stage->Processing());
        auto buffer = Noise(200000, 9);
        const auto before = buffer;
        EXPECT_FALSE(stage->Transform(buffer));
        EXPECT_EQ(buffer, before);
        EXPECT_EQ(fx.prepares, 0u);
        EXPECT_EQ(fx.blocks, 0u);
    }
}

// A format with 0 bits gives the real effects no block size: audio passes until a usable
// format arrives.
TEST(EffectStage, ZeroBitFormatPassesUntilAUsableOne) {
    auto stage = std::make_unique<EffectStage>();
    stage->SelectEffect(1);
    Connect(*stage, Pcm(44100, 2, 0));
    EXPECT_EQ(stage->BlockBytes(), 0u);
    auto buffer = Noise(1000, 10);
    const auto before = buffer;
    EXPECT_FALSE(stage->Transform(buffer));
    EXPECT_EQ(buffer, before);
    Connect(*stage, Pcm(44100, 2, 16));
    EXPECT_EQ(stage->BlockBytes(), 4096u);
    stage->SelectEffect(0);
}

TEST(EffectStage, FailedPrepareReleasesAndPassesThrough) {
    AddEffect fx(4096);
    auto stage = std::make_unique<EffectStage>();
    fx.prepareResult = 0;
    Connect(*stage, Pcm(44100, 2, 16));
    stage->SetEffect(&fx);
    EXPECT_EQ(fx.prepares, 1u);
    EXPECT_EQ(fx.releases, 1u);
    auto buffer = Noise(10000, 11);
    const auto before = buffer;
    EXPECT_FALSE(stage->Transform(buffer));
    EXPECT_EQ(buffer, before);
    EXPECT_EQ(fx.blocks, 0u);
}

// A block the effect refuses leaves unprocessed, in its place in the stream.
TEST(EffectStage, RefusedBlocksPassUnprocessedInTime) {
    AddEffect fx(1024, 5);
    auto stage = std::make_unique<EffectStage>();
    fx.refuseEvery = 3;
    Connect(*stage, Pcm(16000, 1, 16));  // 32000 / 1024 + 1 = 32 blocks of lead-in
    stage->SetEffect(&fx);
    const auto input = Noise(50000, 12);
    const auto out = RunStream(*stage, input, 320, 1 << 20);
    std::vector<uint8_t> expected(32 * 1024, 0);
    for (size_t i = 0; i < input.size(); ++i) {
        const bool refused = (i / 1024 + 1) % 3 == 0;
        expected.push_back(static_cast<uint8_t>(input[i] + (refused ? 0 : 5)));
    }
    EXPECT_EQ(FirstDifference(out, expected), SIZE_MAX);
}

// The last, partly filled block is processed padded with silence (0x80 at 8 bits); the pad
// itself never comes out. Afterwards the stage is empty until new audio arrives, which
// starts with a new lead-in.
TEST(EffectStage, DrainPadsWithSilenceAndThenRestarts) {
    AddEffect fx(256);
    auto stage = std::make_unique<EffectStage>();
    fx.keepLastInput = true;
    Connect(*stage, Pcm(8000, 1, 8));
    stage->SetEffect(&fx);
    auto buffer = Noise(1000, 13);  // 3 whole blocks and 232 bytes
    stage->Transform(buffer);
    EXPECT_EQ(stage->PendingBytes(), 32u * 256);
    std::vector<uint8_t> out(32 * 256 + 1);
    EXPECT_EQ(stage->Drain(out), 32u * 256);
    ASSERT_EQ(fx.lastInput.size(), 256u);
    EXPECT_TRUE(std::all_of(fx.lastInput.begin() + 232, fx.lastInput.end(),
                            [](uint8_t x) { return x == 0x80; }));
    EXPECT_EQ(stage->Drain(out), 0u);
    EXPECT_EQ(stage->PendingBytes(), 0u);
    auto next = Noise(300, 14);
    stage->Transform(next);
    EXPECT_TRUE(std::all_of(next.begin(), next.end(), [](uint8_t x) { return x == 0x80; }));
}

// New audio in the middle of a drain drops what the drain has not handed out.
TEST(EffectStage, TransformDuringADrainStartsAfresh) {
    AddEffect fx(4096);
    auto stage = std::make_unique<EffectStage>();
    Connect(*stage, Pcm(44100, 2, 16));
    stage->SetEffect(&fx);
    auto buffer = Noise(30000, 15);
    stage->Transform(buffer);
    std::vector<uint8_t> piece(1000);
    EXPECT_EQ(stage->Drain(piece), 1000u);
    const auto input = Noise(20000, 16);
    const auto out = RunStream(*stage, input, 1764, 7000);
    EXPECT_EQ(FirstDifference(out, LeadInThen(22 * 4096, 0, input, 1)), SIZE_MAX);
}

// Format blocks: only a wave-format type counts; a short block fills what it has; bytes
// beyond the wave-format record are not kept.
TEST(EffectStage, FormatBlocks) {
    AddEffect fx(4096);
    auto stage = std::make_unique<EffectStage>();
    Connect(*stage, Pcm(44100, 2, 16));
    stage->SetEffect(&fx);
    auto buffer = Noise(5000, 17);
    stage->Transform(buffer);
    const size_t pending = stage->PendingBytes();

    const auto other = WaveFormatToBytes(Pcm(8000, 1, 8));
    const EffectGuid notWave = {
        0x05589F80, 0xC356, 0x11CE, {0xBF, 1, 0, 0xAA, 0, 0x55, 0x59, 0x5A}};
    stage->SetFormat(notWave, other.data(), other.size());
    EXPECT_EQ(stage->Format().samplesPerSec, 44100u);
    EXPECT_EQ(stage->PendingBytes(), pending);
    EXPECT_EQ(fx.prepares, 1u);

    std::vector<uint8_t> longBlock(40, 0xCD);
    const auto head = WaveFormatToBytes(Pcm(22050, 1, 16));
    std::copy(head.begin(), head.end(), longBlock.begin());
    stage->SetFormat(kWaveFormatType, longBlock.data(), longBlock.size());
    EXPECT_EQ(stage->Format().samplesPerSec, 22050u);
    EXPECT_EQ(stage->Format().extraSize, 0u);

    // Six bytes: tag, channels and the low half of the rate.
    const uint8_t shortBlock[6] = {1, 0, 2, 0, 0x44, 0xAC};
    stage->SetFormat(kWaveFormatType, shortBlock, sizeof shortBlock);
    const WaveFormat f = stage->Format();
    EXPECT_EQ(f.channels, 2u);
    EXPECT_EQ(f.samplesPerSec, 0xAC44u);
    EXPECT_EQ(f.bitsPerSample, 0u);
    stage->SetFormat(kWaveFormatType, nullptr, 18);
    EXPECT_EQ(stage->Format().samplesPerSec, 0u);
    EXPECT_FALSE(stage->Processing());
}

// The user-interface thread switches effects while the streaming thread transforms: every
// block reaches a prepared effect with that effect's own block size.
TEST(EffectStage, SelectionNeverLandsInTheMiddleOfABuffer) {
    AddEffect small(2048), large(8192, 2);
    auto stage = std::make_unique<EffectStage>();
    Connect(*stage, Pcm(44100, 2, 16));
    stage->SetEffect(&small);
    std::atomic<bool> done{false};
    std::atomic<uint32_t> transforms{0};
    std::thread streaming([&] {
        auto buffer = Noise(88200, 18);
        while (!done) {
            stage->Transform(buffer);
            ++transforms;
        }
    });
    // Every switch waits for one more buffer, so each selection is streamed through at least
    // once however the threads are scheduled.
    for (int i = 0; i < 300; ++i) {
        switch (i % 4) {
            case 0:
                stage->SetEffect(&large);
                break;
            case 1:
                stage->SetEffect(&small);
                break;
            case 2:
                stage->SelectEffect(-1);
                break;
            default:
                Connect(*stage, Pcm(44100, 2, 16));
                stage->SetEffect(&large);
                break;
        }
        const uint32_t seen = transforms;
        while (transforms == seen)
            std::this_thread::yield();
    }
    done = true;
    streaming.join();
    stage->SetEffect(nullptr);
    EXPECT_EQ(small.misuse, 0u);
    EXPECT_EQ(large.misuse, 0u);
    EXPECT_GT(small.blocks + large.blocks, 0u);
}

TEST(WaveFormatBytes, RoundTripsEveryField) {
    WaveFormat f;
    f.formatTag = 0xFFFE;
    f.channels = 0x0102;
    f.samplesPerSec = 0x03040506;
    f.avgBytesPerSec = 0x0708090A;
    f.blockAlign = 0x0B0C;
    f.bitsPerSample = 0x0D0E;
    f.extraSize = 0x0F10;
    const auto bytes = WaveFormatToBytes(f);
    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[4], 0x06);
    const WaveFormat g = WaveFormatFromBytes(bytes.data(), bytes.size());
    EXPECT_EQ(g.formatTag, f.formatTag);
    EXPECT_EQ(g.channels, f.channels);
    EXPECT_EQ(g.samplesPerSec, f.samplesPerSec);
    EXPECT_EQ(g.avgBytesPerSec, f.avgBytesPerSec);
    EXPECT_EQ(g.blockAlign, f.blockAlign);
    EXPECT_EQ(g.bitsPerSample, f.bitsPerSample);
    EXPECT_EQ(g.extraSize, f.extraSize);
}

}  // namespace
