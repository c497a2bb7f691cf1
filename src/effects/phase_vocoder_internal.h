#pragma once

// Pure pieces of the phase-vocoder engine, exposed so tests can check them one by one.

#include <cmath>
#include <cstdint>
#include <numbers>

namespace qm::vocoder {

inline constexpr double kTwoPi = 2.0 * std::numbers::pi;
inline constexpr double kSemitonesPerOctave = 12.0;

// Semitones to a frequency factor, rounded to float as every effect stores it.
inline float PitchFactor(double semitones) {
    return static_cast<float>(std::pow(2.0, semitones / kSemitonesPerOctave));
}

// The highest bin the limited mapping carries: the bin of `limitHz` in an N-point spectrum of
// the interleaved stream, with the integer divisions truncating step by step.
inline uint32_t LimitBin(uint32_t frameLength, uint32_t rateHz, uint32_t channels,
                         uint32_t limitHz) {
    const uint32_t nyquist = rateHz / 2;
    if (nyquist == 0 || channels == 0)
        return 0;
    const uint64_t bins = uint64_t{frameLength / 2} * limitHz / nyquist / channels;
    return bins > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bins);
}

// Factor of bin k under the limited mapping: a linear glide from m at 0 Hz to 1 at the limit.
inline float LimitedFactor(float m, uint32_t limit, uint32_t k) {
    return static_cast<float>((m * static_cast<double>(limit - k) + k) / limit);
}

// Destination bin trunc(k * factor + 0.5) when it lies at or below `maxBin`; false when it does
// not, including the factors (inf, NaN) that only out-of-range parameters produce.
inline bool MapBin(uint32_t k, float factor, uint32_t maxBin, uint32_t& idx) {
    const double t = k * static_cast<double>(factor) + 0.5;
    if (!(t >= 0.0 && t < maxBin + 1.0))
        return false;
    idx = static_cast<uint32_t>(t);
    return true;
}

// Phase deviation folded into about -pi..pi: subtracts q*pi with q = trunc(d/pi) moved to the
// even number away from zero. A deviation that is not finite (only a non-finite spectrum gives
// one) is left as it is.
inline double WrapDeviation(double d) {
    // Quotients beyond this do not fit the 64-bit integer the truncation goes through.
    constexpr double kLargestQuotient = 9.0e18;
    const double quotient = d / std::numbers::pi;
    if (!(std::fabs(quotient) < kLargestQuotient))
        return d;
    auto q = static_cast<int64_t>(quotient);
    if (q >= 0)
        q += q & 1;
    else
        q -= q & 1;
    return d - static_cast<double>(q) * std::numbers::pi;
}

// WrapDeviation for |d| below 6e9, where the quotient fits 32 bits: the same fold without a
// branch, so a loop of them runs several bins at a time.
inline double WrapSmallDeviation(double d) {
    auto q = static_cast<int32_t>(d / std::numbers::pi);
    // Odd q moves one away from zero: +1 when q > 0, -1 when q < 0 (q >> 31 is -1 or 0).
    q += (q & 1) * ((q >> 31) | 1);
    return d - static_cast<double>(q) * std::numbers::pi;
}

// Per-frame advance of a modulator running `cyclesPerSecond` times a second over frames of N
// samples: pi * (v*N*2) / rate / channels * 0.125, where v*N*2 wraps as a 32-bit unsigned
// product (so a negative rate gives a large step rather than a negative one).
inline float ModulatorStep(int32_t cyclesPerSecond, uint32_t frameLength, uint32_t rateHz,
                           uint32_t channels) {
    // 2 pi * v * N / 8 per frame: the hop of the oversampling-8 effects that modulate, written
    // as pi * (2 v N) * 1/8.
    constexpr double kHopsPerFrame = 8.0;
    const uint32_t product = static_cast<uint32_t>(cyclesPerSecond) * frameLength * 2u;
    return static_cast<float>(std::numbers::pi * product / rateHz / channels / kHopsPerFrame);
}

// The glide of Strange Voice over one modulator cycle: rises from 0 to 2 over the first sixth
// of the cycle, falls back to 0 over the rest.
inline double GlideShape(float phi) {
    constexpr float kSixthOfCycle = 1.0471976f;  // pi/3 as a float
    // pi / (pi/3) and pi / (5 pi/3), each formed from the float pi/3: the rise turns half a
    // cosine cycle over the first sixth, the fall half a cycle over the other five sixths.
    constexpr double kRiseRate = 2.999999916517397;
    constexpr double kFallRate = 0.6000000033393043;
    if (phi >= 0.0f && phi <= kSixthOfCycle)
        return 1.0 - std::cos(phi * kRiseRate);
    return 1.0 + std::cos((phi - kSixthOfCycle) * kFallRate);
}

// Random phases for the effects that discard the measured one: a small linear congruential
// generator giving 0..32767, restarted from a fixed seed so a stream is reproducible.
class PhaseRandom {
  public:
    void Restart() { state_ = kSeed; }
    // The C library's classic rand(): multiplier, increment, and 15 bits from bit 16 up.
    uint32_t Next() {
        state_ = state_ * kMultiplier + kIncrement;
        return (state_ >> 16) & kLargest;
    }

  private:
    static constexpr uint32_t kMultiplier = 1103515245u;
    static constexpr uint32_t kIncrement = 12345u;
    static constexpr uint32_t kLargest = 0x7FFFu;  // 32767
    static constexpr uint32_t kSeed = 1;
    uint32_t state_ = kSeed;
};

// Radians per step of the random generator: pi / 32767.
inline constexpr double kRandomPhaseScale = 9.587672516830327e-05;

}  // namespace qm::vocoder
