#pragma once

#include <cstdint>

#include "dsp/arrays.h"
#include "effects/fixed_array.h"
#include "effects/voice_effect.h"

namespace qm {

// Raises pitch and formants of a voice: each long mono block (about 0.2 s, with a quarter
// block of the previous input as context) goes through pitch-synchronous resynthesis that
// raises the pitch by "PitchShift" and stretches the duration by "ToneShift", then a speed
// change by "ToneShift" brings it back to length and lifts the spectral envelope with it.
// Consecutive blocks are joined with a Hamming cross-fade of a quarter block, so the stream
// comes out a quarter block late. Only the first channel is used; every channel of the output
// carries the same signal. 16-bit PCM only.
//
// Threading: one user at a time, Process on the effect stage's streaming thread. Instances
// share nothing: each has its own scratch and passes its own rate to the library, so
// instances on different threads process side by side.
class MaleToFemaleEffect : public VoiceEffect {
  public:
    MaleToFemaleEffect();
    // Sizes every buffer of the block engine for the frame length GetBlockSize stored.
    // Allocates.
    int Prepare(const WaveFormat* format) override;
    void Release() override;
    int GetParams(EffectParam** params, uint32_t* count) override;
    // One block in place. Allocates nothing: the block engine's buffers, and the library's
    // working storage for one block, are sized in Prepare.
    int Process(const WaveFormat* format, uint8_t* data, const uint32_t* byteCount) override;
    uint32_t GetBlockSize(const WaveFormat* format) override;
    // Parameters back to their defaults; the block sequence and its tails carry on.
    void Reset() override;

    // Samples of context zero padding on each side of the block handed to the library.
    static constexpr uint32_t kPaddingSamples = 640;

  private:
    // Measures what the library needs for one block of the longest kind (continuing, with
    // the largest duration factor the parameters offer) and reserves half as much again.
    bool ReserveLibraryScratch(float sampleRateHz);
    // Runs the library over the mono input; on success sets outputSamples (r) and fills
    // monoOutput_[0 .. r - 1]. On failure the tails stay usable for the next block.
    bool ProcessBlock(float sampleRateHz, float pitchFactor, float toneFactor, bool continuing,
                      uint32_t& outputSamples);

    EffectParam pitchShift_{0, 15, 10, 1, "PitchShift"};
    EffectParam toneShift_{0, 12, 4, 1, "ToneShift"};

    uint32_t blockSamples_ = 0;    // n: mono samples per block
    uint32_t overlapSamples_ = 0;  // n / 4: carried context and cross-fade length
    FixedArray<float> window_;     // Hamming window of 2 * overlap samples
    FixedArray<int16_t> inputTail_;
    FixedArray<int16_t> outputTail_;
    FixedArray<int16_t> monoInput_;
    FixedArray<int16_t> monoOutput_;
    FixedArray<int16_t> processed_;  // n + overlap
    FixedArray<int16_t> context_;    // padding, input tail, block, padding
    FixedArray<int16_t> stretched_;  // the resynthesis's result: at most twice the context
    FixedArray<int16_t> sped_;       // the speed change's result, as far as the block needs it
    DspScratch scratch_;             // the library's arrays during one library call
    bool firstBlock_ = true;
};

}  // namespace qm
