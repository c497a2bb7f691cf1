#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

#include "effects/wave_format.h"

namespace qm {

// Mutes and unmutes what the monitor plays, over a short fade so that no click is heard; the
// voice runs on and a file never hears of it. The control side sets the wish; one audio
// thread at a time applies it to 16-bit PCM, allocating nothing.
class MonitorMute {
  public:
    void Prepare(const WaveFormat& format) {
        channels_ = std::max<uint32_t>(1, format.channels);
        step_ = 1000.0 / (kFadeMs * format.samplesPerSec);
    }
    void Set(bool muted) { muted_.store(muted, std::memory_order_release); }
    bool Muted() const { return muted_.load(std::memory_order_acquire); }
    // True when `pcm` would leave Apply unchanged.
    bool Passes() const { return gain_ == 1.0 && !Muted(); }
    void Apply(std::span<uint8_t> pcm) {
        if (Passes())
            return;
        const double target = Muted() ? 0.0 : 1.0;
        const size_t frameBytes = 2 * size_t{channels_};
        for (size_t frame = 0; frame + frameBytes <= pcm.size(); frame += frameBytes) {
            gain_ =
                target > gain_ ? std::min(target, gain_ + step_) : std::max(target, gain_ - step_);
            if (gain_ == 1.0)
                continue;
            for (size_t at = frame; at < frame + frameBytes; at += 2) {
                int16_t v = 0;
                std::memcpy(&v, pcm.data() + at, 2);
                v = static_cast<int16_t>(std::lround(v * gain_));
                std::memcpy(pcm.data() + at, &v, 2);
            }
        }
    }

    // Puts `voice` into `ring` as the monitor plays it, muting a copy in `scratch` (never the
    // voice itself, which a file may keep) while it fades or is muted.
    template <class Ring>
    void Play(std::span<const uint8_t> voice, std::span<uint8_t> scratch, Ring& ring) {
        if (Passes() || scratch.empty()) {
            ring.Write(voice);
            return;
        }
        for (size_t at = 0; at < voice.size(); at += scratch.size()) {
            const size_t n = std::min(scratch.size(), voice.size() - at);
            std::copy_n(voice.begin() + static_cast<std::ptrdiff_t>(at), n, scratch.begin());
            Apply(scratch.first(n));
            ring.Write(scratch.first(n));
        }
    }

  private:
    static constexpr double kFadeMs = 10.0;
    std::atomic<bool> muted_{false};
    uint32_t channels_ = 1;
    double step_ = 1.0;  // gain change per frame
    double gain_ = 1.0;
};

}  // namespace qm
