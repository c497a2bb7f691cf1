#include "filter/effect_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "filter/stream_helpers.h"
#include "filter/test_effect.h"

using namespace qm;

namespace {

std::unique_ptr<EffectStage> StageWith(VoiceEffect* effect, const WaveFormat& format) {
    auto stage = std::make_unique<EffectStage>();
    Connect(*stage, format);
    stage->SetEffect(effect);
    return stage;
}

// True when a buffer passes Transform unchanged and without delay.
bool PassesUnchanged(EffectStage& stage) {
    auto buffer = Noise(5000, 3);
    const auto before = buffer;
    return !stage.Transform(buffer) && buffer == before;
}

bool AllEqual(const std::vector<uint8_t>& v, size_t from, size_t to, uint8_t value) {
    return std::all_of(v.begin() + from, v.begin() + to, [=](uint8_t x) { return x == value; });
}

// Feeds the input through Transform in buffers of `bufferBytes` (0: random sizes from 0 to
// three blocks, with 0 and 1 byte often), then drains in pieces of `drainBytes`.
std::vector<uint8_t> RunStream(EffectStage& stage, const std::vector<uint8_t>& input,
                               size_t bufferBytes, size_t drainBytes) {
    std::mt19937 rng(1);
    std::vector<uint8_t> out;
    for (size_t at = 0; at < input.size();) {
        size_t n = bufferBytes;
        if (n == 0) {
            const size_t r = rng() % 8;
            n = r == 0 ? 0 : r == 1 ? 1 : rng() % (3 * stage.BlockBytes() + 1);
        }
        n = std::min(n, input.size() - at);
        std::vector<uint8_t> buffer(input.begin() + at, input.begin() + at + n);
        EXPECT_TRUE(stage.Transform(buffer));
        out.insert(out.end(), buffer.begin(), buffer.end());
        at += n;
    }
    std::vector<uint8_t> piece(drainBytes);
    while (const size_t n = stage.Drain(piece))
        out.insert(out.end(), piece.begin(), piece.begin() + n);
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
    stage->SetEffect(&fx);  // before the format, as the recorder may do
    Connect(*stage, row.format);
    ASSERT_TRUE(stage->Processing());
    ASSERT_EQ(stage->Gap(), row.gap);
    const uint8_t silence = row.format.bitsPerSample == 8 ? 0x80 : 0x00;
    const size_t leadIn = size_t{row.gap} * row.blockBytes;
    EXPECT_EQ(stage->PendingBytes(), leadIn);

    const auto input = Noise(row.inputBytes, row.blockBytes);
    const auto out = RunStream(*stage, input, row.bufferBytes, 4000);
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

// The recorder's numbers reach these registry entries (their audio is not looked at here);
// every voice has one, and numbers outside 1 to 8 select none. Blocks at 44100 Hz, 16 bits,
// stereo, with a gap of 88200 / blockBytes + 1.
TEST(EffectStage, RecorderIndexesSelectTheirTableEntries) {
    struct Row {
        int32_t index;
        const char* name;  // null: no effect
        uint32_t blockBytes, gap;
    };
    for (const Row& row :
         {Row{-2, nullptr, 4096, 22}, Row{-1, nullptr, 4096, 22}, Row{0, nullptr, 4096, 22},
          Row{1, "Baby", 4096, 22}, Row{2, "Elder", 4096, 22}, Row{3, "FemaletoMale", 4096, 22},
          Row{4, "Robot", 8192, 11}, Row{5, "Male2Female", 32768, 3}, Row{6, "Monster", 4096, 22},
          Row{7, "Ghost", 4096, 22}, Row{8, "Strange Voice", 4096, 22},
          Row{9, nullptr, 4096, 22}}) {
        SCOPED_TRACE(row.index);
        auto stage = StageWith(nullptr, Pcm(44100, 2, 16));
        stage->SelectEffect(row.index);
        EXPECT_EQ(stage->BlockBytes(), row.blockBytes);
        EXPECT_EQ(stage->Gap(), row.gap);
        const VoiceEffect* effect = stage->CurrentEffect();
        EXPECT_STREQ(effect != nullptr ? effect->GetName() : nullptr, row.name);
        if (effect != nullptr) {
            EXPECT_EQ(RecorderIndexOf(*effect), row.index);
        } else {
            std::vector<uint8_t> out(100);
            EXPECT_EQ(stage->Drain(out), 0u);
            EXPECT_TRUE(PassesUnchanged(*stage));
        }
        stage->SelectEffect(-1);
    }
}

// A selected effect that the format gives no block size (nothing connected yet, or 0 bits)
// passes audio until a usable format arrives; that one sizes the block and lays out the
// lead-in. Male2Female at mono 44100 Hz: 16384-byte blocks, 6 of them (98304 bytes) of lead-in.
TEST(EffectStage, PassesAudioUntilAUsableFormat) {
    struct Row {
        int32_t index;
        WaveFormat unusable, usable;
        uint32_t blockBytes, gap;
    };
    for (const Row& row : {Row{5, Pcm(0, 0, 0), Pcm(44100, 1, 16), 16384, 6},
                           Row{1, Pcm(44100, 2, 0), Pcm(44100, 2, 16), 4096, 22}}) {
        auto stage = std::make_unique<EffectStage>();
        stage->SelectEffect(row.index);
        Connect(*stage, row.unusable);
        EXPECT_EQ(stage->BlockBytes(), 0u);
        EXPECT_TRUE(PassesUnchanged(*stage));
        Connect(*stage, row.usable);
        EXPECT_TRUE(stage->Processing());
        EXPECT_EQ(stage->BlockBytes(), row.blockBytes);
        EXPECT_EQ(stage->PendingBytes(), size_t{row.gap} * row.blockBytes);
        stage->SelectEffect(0);
    }
}

// A failed Prepare is released at once and audio passes. (Block sizes the ring cannot hold
// are left to the stage fuzzer, which checks that no block of the wrong size reaches Process.)
TEST(EffectStage, FailedPrepareIsReleasedAndAudioPasses) {
    AddEffect fx(4096);
    fx.prepareResult = 0;
    auto stage = StageWith(&fx, Pcm(44100, 2, 16));
    EXPECT_EQ(fx.releases, 1u);
    EXPECT_TRUE(PassesUnchanged(*stage));
    EXPECT_EQ(fx.blocks, 0u);
}

// Selecting again (even the same effect) or a new connection discards what the ring holds
// and starts a new lead-in (22 blocks of 4096: 90112 silent bytes); the effect is released and
// prepared again.
TEST(EffectStage, ReselectionAndReconnectionRestartTheLeadIn) {
    for (const bool reconnect : {false, true}) {
        AddEffect fx(4096);
        auto stage = StageWith(&fx, Pcm(44100, 2, 16));
        auto first = Noise(50000, 7);
        stage->Transform(first);
        if (reconnect)
            Connect(*stage, Pcm(44100, 2, 16));
        else
            stage->SetEffect(&fx);
        EXPECT_EQ(fx.releases, 1u);
        EXPECT_EQ(fx.prepares, 2u);
        const auto input = Noise(90112 + 100, 8);
        auto buffer = input;
        stage->Transform(buffer);
        EXPECT_TRUE(AllEqual(buffer, 0, 90112, 0)) << "reconnect: " << reconnect;
        for (size_t i = 90112; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], static_cast<uint8_t>(input[i - 90112] + 1));
    }
}

// A block the effect refuses leaves unprocessed, in its place in the stream.
TEST(EffectStage, RefusedBlocksPassUnprocessedInTime) {
    AddEffect fx(1024, 5);
    fx.refuseEvery = 3;
    auto stage = StageWith(&fx, Pcm(16000, 1, 16));  // 32000 / 1024 + 1 = 32 blocks of lead-in
    const auto input = Noise(50000, 12);
    std::vector<uint8_t> expected(32 * 1024, 0);
    for (size_t i = 0; i < input.size(); ++i)
        expected.push_back(static_cast<uint8_t>(input[i] + ((i / 1024 + 1) % 3 == 0 ? 0 : 5)));
    EXPECT_EQ(FirstDifference(RunStream(*stage, input, 320, 1 << 20), expected), SIZE_MAX);
}

// The last, partly filled block is processed padded with silence (0x80 at 8 bits); the pad
// itself never comes out. Afterwards the stage is empty until new audio arrives, which
// starts with a new lead-in.
TEST(EffectStage, DrainPadsWithSilenceAndThenRestarts) {
    AddEffect fx(256);
    fx.keepLastInput = true;
    auto stage = StageWith(&fx, Pcm(8000, 1, 8));
    auto buffer = Noise(1000, 13);  // 3 whole blocks and 232 bytes
    stage->Transform(buffer);
    EXPECT_EQ(stage->PendingBytes(), 32u * 256);
    std::vector<uint8_t> out(32 * 256 + 1);
    EXPECT_EQ(stage->Drain(out), 32u * 256);
    ASSERT_EQ(fx.lastInput.size(), 256u);
    EXPECT_TRUE(AllEqual(fx.lastInput, 232, 256, 0x80));
    EXPECT_EQ(stage->Drain(out), 0u);
    EXPECT_EQ(stage->PendingBytes(), 0u);
    auto next = Noise(300, 14);
    stage->Transform(next);
    EXPECT_TRUE(AllEqual(next, 0, next.size(), 0x80));
}

// New audio in the middle of a drain drops what the drain has not handed out.
TEST(EffectStage, TransformDuringADrainStartsAfresh) {
    AddEffect fx(4096);
    auto stage = StageWith(&fx, Pcm(44100, 2, 16));
    auto buffer = Noise(30000, 15);
    stage->Transform(buffer);
    std::vector<uint8_t> piece(1000);
    EXPECT_EQ(stage->Drain(piece), 1000u);
    const auto input = Noise(20000, 16);
    const auto out = RunStream(*stage, input, 1764, 7000);
    EXPECT_EQ(FirstDifference(out, LeadInThen(22 * 4096, 0, input, 1)), SIZE_MAX);
}

// Each field at its little-endian offset: bytes 1, 2, ... 18 decode to known values and encode
// back to the same bytes; a short block fills what it has, a null one reads as all zero.
TEST(WaveFormatBytes, FieldsSitAtTheirOffsets) {
    std::array<uint8_t, kWaveFormatBytes> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i + 1);
    const WaveFormat f = WaveFormatFromBytes(bytes.data(), bytes.size());
    EXPECT_EQ(f.formatTag, 0x0201u);
    EXPECT_EQ(f.channels, 0x0403u);
    EXPECT_EQ(f.samplesPerSec, 0x08070605u);
    EXPECT_EQ(f.avgBytesPerSec, 0x0C0B0A09u);
    EXPECT_EQ(f.blockAlign, 0x0E0Du);
    EXPECT_EQ(f.bitsPerSample, 0x100Fu);
    EXPECT_EQ(f.extraSize, 0x1211u);
    EXPECT_EQ(WaveFormatToBytes(f), bytes);
    EXPECT_EQ(WaveFormatFromBytes(bytes.data(), 6).samplesPerSec, 0x0605u);
    EXPECT_EQ(WaveFormatFromBytes(bytes.data(), 6).avgBytesPerSec, 0u);
    EXPECT_EQ(WaveFormatFromBytes(nullptr, 18).channels, 0u);
}

// Only a wave-format type changes the format (a new one re-prepares the effect); one that
// reads as all zero stops the processing.
TEST(EffectStage, OnlyWaveFormatBlocksChangeTheFormat) {
    AddEffect fx(4096);
    auto stage = StageWith(&fx, Pcm(44100, 2, 16));
    auto buffer = Noise(5000, 17);
    stage->Transform(buffer);
    const size_t pending = stage->PendingBytes();
    EffectGuid notWave = kWaveFormatType;
    notWave.data1 ^= 1;
    const auto other = WaveFormatToBytes(Pcm(8000, 1, 8));
    stage->SetFormat(notWave, other.data(), other.size());
    EXPECT_EQ(stage->Format().samplesPerSec, 44100u);
    EXPECT_EQ(stage->PendingBytes(), pending);
    EXPECT_EQ(fx.prepares, 1u);
    stage->SetFormat(kWaveFormatType, other.data(), other.size());
    EXPECT_EQ(stage->Format().samplesPerSec, 8000u);
    EXPECT_EQ(fx.prepares, 2u);
    stage->SetFormat(kWaveFormatType, nullptr, 18);
    EXPECT_FALSE(stage->Processing());
}

// The user-interface thread switches effects while the streaming thread transforms: every
// block reaches a prepared effect with that effect's own block size.
TEST(EffectStage, SelectionNeverLandsInTheMiddleOfABuffer) {
    AddEffect small(2048), large(8192, 2);
    auto stage = StageWith(&small, Pcm(44100, 2, 16));
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
        if (i % 4 == 3)
            Connect(*stage, Pcm(44100, 2, 16));
        if (i % 4 == 2)
            stage->SelectEffect(-1);
        else
            stage->SetEffect(i % 4 == 1 ? &small : &large);
        for (const uint32_t seen = transforms; transforms == seen;)
            std::this_thread::yield();
    }
    done = true;
    streaming.join();
    stage->SetEffect(nullptr);
    EXPECT_EQ(small.misuse, 0u);
    EXPECT_EQ(large.misuse, 0u);
    EXPECT_GT(small.blocks + large.blocks, 0u);
}

}  // namespace
