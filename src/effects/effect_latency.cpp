#include "effects/effect_latency.h"

#include "effects/male_to_female.h"
#include "effects/phase_vocoder_effects.h"

namespace qm {

uint64_t EffectLatencyBytes(const VoiceEffect& effect, const WaveFormat& format) {
    const uint64_t n = effect.FrameLength();
    if (const auto* vocoder = dynamic_cast<const PhaseVocoderEffect*>(&effect)) {
        // The frame step replaces the hop that ends at the newest sample with output that
        // started a whole frame less one hop earlier.
        const uint64_t samples = n - n / vocoder->Oversampling();
        return samples * format.bitsPerSample / 8;
    }
    if (dynamic_cast<const MaleToFemaleEffect*>(&effect) != nullptr) {
        // One cross-fade length (a quarter block) of every channel.
        return (n / 4) * format.channels * format.bitsPerSample / 8;
    }
    return 0;
}

}  // namespace qm
