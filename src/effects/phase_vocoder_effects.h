#pragma once

#include <span>

#include "effects/fixed_array.h"
#include "effects/phase_vocoder.h"
#include "effects/voice_effect.h"

// The seven effects that share the short-time Fourier engine. They differ in the engine's
// settings, in how they read their parameters and (Ghost) in an echo after the engine.
//
// Prepare allocates everything, including the block's float frame; Process allocates nothing
// and never blocks. A block is refused (0, data untouched) when the effect is not prepared,
// when the format would give another frame length than the prepared one, or when the byte
// count is shorter than one block.
class PhaseVocoderEffect : public VoiceEffect {
  public:
    PhaseVocoderEffect(const VocoderSettings& settings, double frameSeconds);
    int Prepare(const WaveFormat* format) override;
    void Release() override;
    int Process(const WaveFormat* format, uint8_t* data, const uint32_t* byteCount) override;
    uint32_t GetBlockSize(const WaveFormat* format) override;
    // Clears the processing state; effects with parameters also restore their defaults.
    void Reset() override;

    // Frames per frame length: the hop is N / oversampling.
    uint32_t Oversampling() const { return engine_.Oversampling(); }

  protected:
    // The parameters as one block reads them.
    virtual BlockContext ReadParameters(const WaveFormat& format) const;
    // Stages of their own that some effects add around the engine.
    virtual bool PrepareExtra(const WaveFormat&) { return true; }
    virtual void ReleaseExtra() {}
    virtual void ClearExtra() {}
    virtual void AfterFrames(std::span<float>, const WaveFormat&) {}

  private:
    PhaseVocoder engine_;
    double frameSeconds_;
};

class FemaleToMaleEffect : public PhaseVocoderEffect {
  public:
    FemaleToMaleEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  protected:
    BlockContext ReadParameters(const WaveFormat& format) const override;

  private:
    EffectParam pitchShift_{-20, 0, -10, 1, "PitchShift"};
};

class BabyEffect : public PhaseVocoderEffect {
  public:
    BabyEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  protected:
    BlockContext ReadParameters(const WaveFormat& format) const override;

  private:
    EffectParam pitchShift_{10, 30, 16, 1, "PitchShift"};
};

class ElderEffect : public PhaseVocoderEffect {
  public:
    ElderEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  protected:
    BlockContext ReadParameters(const WaveFormat& format) const override;

  private:
    EffectParam tremoloFrequency_{0, 10, 6, 1, "tremolo frequence"};
};

class RobotEffect : public PhaseVocoderEffect {
  public:
    RobotEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
};

class MonsterEffect : public PhaseVocoderEffect {
  public:
    MonsterEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  protected:
    BlockContext ReadParameters(const WaveFormat& format) const override;

  private:
    EffectParam pitchShift_{-30, -8, -12, 1, "PitchShift"};
};

// Ghost follows the engine with a feedback comb: an echo every "delay time" hundredths of a
// second of the interleaved stream, each repeat weaker by "decay degree" tenths.
class GhostEffect : public PhaseVocoderEffect {
  public:
    GhostEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  protected:
    BlockContext ReadParameters(const WaveFormat& format) const override;
    bool PrepareExtra(const WaveFormat& format) override;
    void ReleaseExtra() override;
    void ClearExtra() override;
    void AfterFrames(std::span<float> samples, const WaveFormat& format) override;

  private:
    FixedArray<float> delayLine_;  // 0.71 s of the interleaved stream
    uint32_t delaySamples_ = 0;    // D of the last block
    uint32_t writePos_ = 0;
    EffectParam delayTime_{0, 70, 30, 1, "delay time"};
    EffectParam decayDegree_{1, 10, 5, 1, "decay degree"};
    EffectParam pitchShift_{-10, 10, -3, 1, "PitchShift"};
};

class StrangeVoiceEffect : public PhaseVocoderEffect {
  public:
    StrangeVoiceEffect();
    int GetParams(EffectParam** params, uint32_t* count) override;
    void Reset() override;

  protected:
    BlockContext ReadParameters(const WaveFormat& format) const override;

  private:
    EffectParam changeFrequency_{0, 10, 2, 1, "change frequence"};
    EffectParam pitchShift_{0, 10, 0, 1, "Pitchshift"};
};
