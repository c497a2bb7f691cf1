#include "cli/stage_render.h"

#include <gtest/gtest.h>

#include <memory>

#include "filter/stream_helpers.h"
#include "filter/test_effect.h"

using namespace qm;

namespace {

// 10 ms in whole frames, at least one frame and one byte.
TEST(StageRender, DefaultBufferIsTenMillisecondsOfWholeFrames) {
    EXPECT_EQ(DefaultStageBufferBytes(Pcm(44100, 2, 16)), 1764u);
    EXPECT_EQ(DefaultStageBufferBytes(Pcm(11025, 1, 16)), 220u);
    EXPECT_EQ(DefaultStageBufferBytes(Pcm(8000, 1, 8)), 80u);
    EXPECT_EQ(DefaultStageBufferBytes(Pcm(48000, 2, 32)), 3840u);
    EXPECT_EQ(DefaultStageBufferBytes(Pcm(50, 1, 16)), 2u);
    EXPECT_EQ(DefaultStageBufferBytes(Pcm(0, 0, 0)), 1u);
}

// A whole file through the stage: the lead-in, then every input byte processed, nothing lost
// at the end, whatever the buffer size (0: the default).
TEST(StageRender, WritesTheLeadInThenTheWholeInput) {
    const auto input = Noise(176400 + 333, 21);
    for (const size_t bufferBytes : {0, 1, 4096, 88200, 1000000}) {
        AddEffect fx(4096, 7);
        auto stage = std::make_unique<EffectStage>();
        stage->SetEffect(&fx);
        const StageRenderResult result =
            RenderThroughStage(*stage, Pcm(44100, 2, 16), input, bufferBytes);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.leadInBytes, 22u * 4096);
        EXPECT_EQ(FirstDifference(result.pcm, LeadInThen(22 * 4096, 0, input, 7)), SIZE_MAX)
            << bufferBytes;
    }
}

// No effect, or one that fails to prepare: nothing would be processed, so no result.
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
