#pragma once

#include "effects/voice_effect.h"

// The seven effects that share the short-time Fourier engine. Placeholder declarations: the
// engine itself is still to be written, so every block is refused for now.
class PhaseVocoderEffect : public VoiceEffect {
  public:
    explicit PhaseVocoderEffect(uint32_t oversampling) : oversampling_(oversampling) {}
    int Prepare(const WaveFormat* format) override;
    void Release() override;
    int Process(const WaveFormat* format, uint8_t* data, const uint32_t* byteCount) override;

    // Frames per frame length: the hop is N / oversampling.
    uint32_t Oversampling() const { return oversampling_; }

  private:
    uint32_t oversampling_;
};

class FemaleToMaleEffect : public PhaseVocoderEffect {
  public:
    FemaleToMaleEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  private:
    EffectParam pitchShift_{-20, 0, -10, 1, "PitchShift"};
};

class BabyEffect : public PhaseVocoderEffect {
  public:
    BabyEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  private:
    EffectParam pitchShift_{10, 30, 16, 1, "PitchShift"};
};

class ElderEffect : public PhaseVocoderEffect {
  public:
    ElderEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  private:
    EffectParam tremoloFrequency_{0, 10, 6, 1, "tremolo frequence"};
};

class RobotEffect : public PhaseVocoderEffect {
  public:
    RobotEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    uint32_t GetBlockSize(const WaveFormat* format) override;
};

class MonsterEffect : public PhaseVocoderEffect {
  public:
    MonsterEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  private:
    EffectParam pitchShift_{-30, -8, -12, 1, "PitchShift"};
};

class GhostEffect : public PhaseVocoderEffect {
  public:
    GhostEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  private:
    EffectParam delayTime_{0, 70, 30, 1, "delay time"};
    EffectParam decayDegree_{1, 10, 5, 1, "decay degree"};
    EffectParam pitchShift_{-10, 10, -3, 1, "PitchShift"};
};

class StrangeVoiceEffect : public PhaseVocoderEffect {
  public:
    StrangeVoiceEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  private:
    EffectParam changeFrequency_{0, 10, 2, 1, "change frequence"};
    EffectParam pitchShift_{0, 10, 0, 1, "Pitchshift"};
};
