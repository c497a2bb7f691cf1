#pragma once

#include <cstdint>
#include <span>

#include "effects/fixed_array.h"
#include "effects/phase_vocoder_internal.h"
#include "effects/stft_fft.h"

namespace qm {

// The short-time Fourier engine shared by the pitch and character effects: each block of N
// interleaved samples is cut into Hann-windowed frames one hop (N / oversampling) apart, every
// frame's spectrum is re-mapped, and the frames are transformed back and overlap-added. The
// output lags the input by N - hop samples.
//
// The engine can be fed a block (N samples) or a hop at a time: a block is its hops in order,
// so both give the same output stream, and hop by hop each hop of output leaves as soon as the
// frame ending with its input is done (one frame of look-ahead instead of two).
//
// Prepare and Release allocate and free; ProcessBlock, ProcessHop and ClearState allocate
// nothing and never block. One user at a time (the streaming thread).

enum class AnalysisPhase {
    kMeasured,  // the bin's own phase: pitch moves, timbre is kept
    kRandom,    // a random phase per bin and frame: a breathy, rough voice
    kZero,      // magnitudes only, every frame in phase: a monotone buzz at the hop rate
};

enum class BinMapping {
    kUniform,  // every bin scaled by the same factor
    kLimited,  // the factor glides from m at 0 Hz to 1 at the limit; nothing above it is kept
};

enum class MagnitudeWeight {
    kNone,
    kLowQuarterCosine,  // cos(idx * pi / (N/2)) below N/4, nothing from N/4 up
    kLimitCosine,       // cos(idx * pi / (2L)): a gentle roll-off towards the limit
};

enum class Modulator {
    kNone,     // m is the pitch factor
    kVibrato,  // m = 2^(0.25 sin phi)
    kGlide,    // m = 2^(v/12 + 0.5 shape(phi))
};

struct VocoderSettings {
    uint32_t oversampling = 8;
    AnalysisPhase phase = AnalysisPhase::kMeasured;
    BinMapping mapping = BinMapping::kUniform;
    uint32_t limitHz = 0;
    MagnitudeWeight weight = MagnitudeWeight::kNone;
    Modulator modulator = Modulator::kNone;
    double outputGain = 2.0;
};

// What one block needs to know of the stream and of the effect's parameters, read once.
struct BlockContext {
    uint32_t sampleRateHz = 0;
    uint32_t channels = 0;
    float pitchFactor = 1.0f;     // m of the unmodulated mappings
    double semitones = 0.0;       // the glide's base pitch
    int32_t modulatorRateHz = 0;  // modulator cycles per second of sound
};

class PhaseVocoder {
  public:
    explicit PhaseVocoder(const VocoderSettings& settings) : settings_(settings) {}

    // Allocates every buffer for frames of `frameLength` samples and clears the state. False
    // (holding nothing) when the frame is too short for one hop, not a power of two, or the
    // memory is not available.
    bool Prepare(uint32_t frameLength);
    void Release();
    bool Prepared() const { return frameLength_ != 0; }
    uint32_t FrameLength() const { return frameLength_; }
    uint32_t Oversampling() const { return settings_.oversampling; }
    // Samples per hop, N / oversampling; 0 when not prepared.
    uint32_t HopLength() const { return hop_; }

    // Input history, phases, output accumulator and modulator back to silence; the random
    // phases restart from their seed.
    void ClearState();

    // The N-sample float frame of one block, owned by the engine so Process needs no memory.
    std::span<float> WorkBuffer() { return work_.Span(); }

    // Runs the block's `oversampling` frames over `samples` (N entries) in place.
    void ProcessBlock(std::span<float> samples, const BlockContext& context);
    // Runs one frame over the next hop of the stream (`hop`, HopLength entries) in place: the
    // hop comes out replaced by the next HopLength samples of the output stream. The
    // modulators advance one hop.
    void ProcessHop(std::span<float> hop, const BlockContext& context);

  private:
    void FrameStep(float* hopOut, double binWidth, float m);
    // The leading analysis bins the frame at factor m needs: all, except where the uniform
    // mapping sends the upper bins above `audible_`, which the weights silence for good.
    uint32_t NeededBins(float m) const;
    void Analyse(double binWidth, uint32_t needed);
    // The last frame's phases of bins phasesKnown_..count-1, from its kept spectrum.
    void RecoverLastPhases(uint32_t count);
    // Moves analysis bin k to synthesis bin idx at frequency factor `factor`.
    void Deposit(uint32_t k, uint32_t idx, float factor);
    void MapUniform(float factor, uint32_t needed);
    void MapLimited(float m);
    void Synthesise(double binWidth);
    void UpdateLimitWeights(uint32_t limit);
    float ModulatedFactor(const BlockContext& context) const;

    VocoderSettings settings_;
    uint32_t frameLength_ = 0;
    uint32_t hop_ = 0;
    uint32_t limit_ = 0;
    uint32_t weightLimit_ = 0;  // L the limit weights were computed for; 0 = none yet
    // Synthesis bins that can ever carry sound (N/2 + 1 unless the weights end below that).
    // Above them nothing is computed that only they would use; the analysis then skips the
    // bins mapped there, and their phases are taken from the kept spectrum when a lower
    // factor needs them again, so the output is the same as with every bin computed.
    uint32_t audible_ = 0;
    uint32_t phasesKnown_ = 0;    // leading bins whose last phase is the last frame's
    FixedArray<float> previous_;  // the last frame's spectrum: real parts, then imaginary
    float phi_ = 0.0f;            // modulator phase, radians
    vocoder::PhaseRandom random_;

    // The one state allocation, in this order: window (N), input FIFO (N), FFT workspace (2N),
    // last phase (N/2+1), phase sum (N/2+1), output accumulator (2N), analysis frequency and
    // magnitude, synthesis frequency and magnitude (N each). Magnitude-only frames keep the
    // first four parts plus the accumulator (6N).
    FixedArray<float> state_;
    float* window_ = nullptr;
    float* fifo_ = nullptr;
    float* spectrum_ = nullptr;  // bins 0..N/2: real parts first, imaginary parts from N
    float* lastPhase_ = nullptr;
    float* phaseSum_ = nullptr;
    float* accumulator_ = nullptr;
    float* analysisFreq_ = nullptr;
    float* analysisMag_ = nullptr;
    float* synthesisFreq_ = nullptr;
    float* synthesisMag_ = nullptr;

    FixedArray<float> work_;
    RealFft fft_;
    // Per-bin constants: expected phase advance k*e, destination weights, and per-sample
    // overlap-add scale (gain * window / ((N/2) * oversampling)).
    FixedArray<double> expectedAdvance_;
    FixedArray<double> weights_;
    FixedArray<float> overlapScale_;
};

}  // namespace qm
