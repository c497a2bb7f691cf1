#pragma once

#include "effects/voice_effect.h"

// Raises pitch and formants of a voice with pitch-synchronous resynthesis over long mono
// blocks (about 0.2 s). Its processing is not built yet: Process refuses every block.
class MaleToFemaleEffect : public VoiceEffect {
  public:
    MaleToFemaleEffect();
    int Prepare(const WaveFormat* format) override;
    void Release() override;
    int GetParams(EffectParam** params, uint32_t* count) override;
    int Process(const WaveFormat* format, uint8_t* data, const uint32_t* byteCount) override;
    uint32_t GetBlockSize(const WaveFormat* format) override;
    void Reset() override;

  private:
    EffectParam pitchShift_{0, 15, 10, 1, "PitchShift"};
    EffectParam toneShift_{0, 12, 4, 1, "ToneShift"};
};
