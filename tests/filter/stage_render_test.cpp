#include "cli/stage_render.h"

#include <gtest/gtest.h>

#include <memory>

#include "filter/stream_helpers.h"
#include "filter/test_effect.h"

namespace {

struct BufferRow {
    WaveFormat format;
    size_t bytes;  // 10 ms in whole frames
};

class DefaultBuffer : public ::testing::TestWithParam<BufferRow> {};

TEST_P(DefaultBuffer, IsTenMillisecondsOfWholeFrames) {
    EXPECT_EQ(DefaultStageBufferBytes(GetParam().format), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DefaultBuffer,
    ::testing::Values(BufferRow{Pcm(44100, 2, 16), 1764}, BufferRow{Pcm(11025, 1, 16), 220},
                      BufferRow{Pcm(8000, 1, 8), 80}, BufferRow{Pcm(48000, 2, 32), 3840},
                      BufferRow{Pcm(50, 1, 16), 2}, BufferRow{Pcm(0, 0, 0), 1}));

class StageRender : public ::testing::TestWithParam<size_t> {};

// A whole file through the stage: the lead-in, then every input byte processed, nothing lost
// at the end, whatever the buffer size.
TEST_P(StageRender, WritesTheLeadInThenTheWholeInput) {
    AddEffect fx(4096, 7);
    auto stage = std::make_unique<EffectStage>();
    stage->SetEffect(&fx);
    const auto input = Noise(176400 + 333, 21);
    const StageRenderResult result =
        RenderThroughStage(*stage, Pcm(44100, 2, 16), input, GetParam());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.leadInBytes, 22u * 4096);
    EXPECT_EQ(FirstDifference(result.pcm, LeadInThen(22 * 4096, 0, input, 7)), SIZE_MAX);
}

INSTANTIATE_TEST_SUITE_P(BufferBytes, StageRender, ::testing::Values(0, 1, 4096, 88200, 1000000));

TEST(StageRender, RefusesWhenNothingWouldBeProcessed) {
    AddEffect fx(4096);
    fx.prepareResult = 0;
    auto stage = std::make_unique<EffectStage>();
    const auto input = Noise(1000, 22);
    EXPECT_FALSE(RenderThroughStage(*stage, Pcm(44100, 2, 16), input, 0).ok);
    stage->SetEffect(&fx);
    const StageRenderResult result = RenderThroughStage(*stage, Pcm(44100, 2, 16), input, 0);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
}

}  // namespace
