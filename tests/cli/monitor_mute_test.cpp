#include "cli/monitor_mute.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace qm;

namespace {

constexpr uint32_t kRate = 48000;

// A loud 1 kHz tone muted and unmuted in 5 ms pieces, as a capture callback delivers: the
// voice passes untouched until the mute, fades to exact silence within the fade, comes back
// sample for sample after it, and never steps further than the tone itself does (no click),
// whatever the channel count.
class MonitorMuteTest : public testing::TestWithParam<uint16_t> {};

TEST_P(MonitorMuteTest, FadesOutAndBackWithoutAClick) {
    const uint16_t channels = GetParam();
    WaveFormat format{};
    format.channels = channels;
    format.samplesPerSec = kRate;
    format.blockAlign = static_cast<uint16_t>(2 * channels);
    std::vector<int16_t> in(kRate / 2 * channels);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<int16_t>(30000 * std::sin(2 * M_PI * 1000.0 * (i / channels) / kRate));
    std::vector<int16_t> out = in;
    MonitorMute mute;
    mute.Prepare(format);
    const size_t piece = kRate / 200 * channels, muteAt = 10 * piece, unmuteAt = 40 * piece;
    for (size_t at = 0; at < out.size(); at += piece) {
        if (at == muteAt || at == unmuteAt)
            mute.Set(at == muteAt);
        mute.Apply({reinterpret_cast<uint8_t*>(out.data() + at), 2 * piece});
    }
    const size_t fade = kRate / 100 * channels;  // 10 ms
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + muteAt, out.begin()));
    EXPECT_TRUE(std::all_of(out.begin() + muteAt + fade, out.begin() + unmuteAt,
                            [](int16_t v) { return v == 0; }));
    EXPECT_TRUE(std::equal(in.begin() + unmuteAt + fade, in.end(), out.begin() + unmuteAt + fade));
    int ownStep = 0, step = 0;
    for (size_t i = channels; i < in.size(); ++i) {
        ownStep = std::max(ownStep, std::abs(in[i] - in[i - channels]));
        step = std::max(step, std::abs(out[i] - out[i - channels]));
    }
    EXPECT_LE(step, ownStep + 100);
}

INSTANTIATE_TEST_SUITE_P(Channels, MonitorMuteTest, testing::Values(1, 2, 6));

}  // namespace
