#include "dsp/resample.h"

#include <cmath>
#include <new>

#include "dsp/arrays.h"
#include "dsp/constants.h"
#include "dsp/fft.h"

namespace qm {

namespace {

// 1000 zeros on each side of the block keep the circular FFT from wrapping its ends together.
constexpr long kFftMargin = 1000;

// A resampling by a factor this close to 2 takes the exact FFT doubling.
constexpr double kDoublingTolerance = 1e-6;

// Share of the band below which the doubling keeps the spectrum untouched; above it, a taper.
constexpr double kTaperStart = 0.95;

// Precision of the speed change: at most 1, which means linear interpolation.
constexpr double kLinearPrecision = 0.5;

}  // namespace

double interpolateSinc(const double* y, long n, double x, long maxDepth) {
    if (y == nullptr || n < 1 || std::isnan(x))
        return 0.0;
    if (x < 1.0)
        return y[1];
    if (x >= static_cast<double>(n))
        return y[n];
    const long ix = static_cast<long>(std::floor(x));
    if (x == static_cast<double>(ix))
        return y[ix];
    long depth = maxDepth;
    if (ix < depth)
        depth = ix;
    if (n - ix < depth)
        depth = n - ix;
    if (depth <= 0)
        return y[static_cast<long>(std::floor(x + 0.5))];
    if (depth == 1)
        return y[ix] + (x - ix) * (y[ix + 1] - y[ix]);
    if (depth == 2) {
        const double yl = y[ix];
        const double yr = y[ix + 1];
        const double dyl = 0.5 * (yr - y[ix - 1]);
        const double dyr = 0.5 * (y[ix + 2] - yl);
        const double fil = x - ix;
        const double fir = ix + 1 - x;
        return yl * fir + yr * fil -
               fil * fir * (0.5 * (dyr - dyl) + (fil - 0.5) * (dyl + dyr - 2.0 * (yr - yl)));
    }
    const long left = ix + 1 - depth;
    const long right = ix + depth;
    double result = 0.0;
    {
        double phi = (x - ix) * kDspPi;
        double halfSine = 0.5 * std::sin(phi);
        const double aa = 1.0 / (x - left + 1.0);
        double a = aa * phi;
        for (long i = ix; i >= left; --i) {
            result += y[i] * halfSine * (1.0 + std::cos(a)) / phi;
            phi += kDspPi;
            a += aa * kDspPi;
            halfSine = -halfSine;
        }
    }
    {
        double phi = (ix + 1 - x) * kDspPi;
        double halfSine = 0.5 * std::sin(phi);
        const double aa = 1.0 / (right - x + 1.0);
        double a = aa * phi;
        for (long i = ix + 1; i <= right; ++i) {
            result += y[i] * halfSine * (1.0 + std::cos(a)) / phi;
            phi += kDspPi;
            a += aa * kDspPi;
            halfSine = -halfSine;
        }
    }
    return result;
}

int Sound_upsampleTwice(Sound* source, Sound* target) {
    if (source == nullptr || target == nullptr || source->data == nullptr)
        return 0;
    const long count = source->count;
    const long nfft = NextPowerOfTwo(count + 2 * kFftMargin);
    if (nfft == 0 || 2 * static_cast<long long>(count) > INT32_MAX)
        return 0;
    if (!Sound_init(target, source->startTime, source->endTime, static_cast<int32_t>(2 * count),
                    0.5 * source->step, source->firstTime)) {
        return 0;
    }
    ScopedVector<double> buf(1, 2 * nfft);
    if (!buf) {
        Sound_freeSamples(target);
        return 0;
    }
    const float* in = source->data[1];
    for (long i = 1; i <= count; ++i)
        buf[kFftMargin + i] = in[i];
    fftReal(buf.get(), nfft, 1);
    // Fade the top 5 % of the band out rather than cutting it, against ringing.
    const long k0 = static_cast<long>(nfft * kTaperStart);
    for (long i = k0 + 1; i <= nfft; ++i)
        buf[i] = buf[i] * (nfft - i) / (nfft - k0);
    buf[2] = 0.0;
    fftReal(buf.get(), 2 * nfft, -1);
    float* out = target->data[1];
    // The inverse real transform leaves nfft / 2 times the sequence.
    const double scale = 2.0 / nfft;
    for (long j = 1; j <= 2 * count; ++j)
        out[j] = static_cast<float>(scale * buf[2 * kFftMargin + j]);
    return 1;
}

int Sound_resample(Sound* source, Sound* target, Sound* work, double samplingFrequency,
                   double precision) {
    if (source == nullptr || target == nullptr || work == nullptr || source->data == nullptr ||
        !std::isfinite(samplingFrequency) || samplingFrequency <= 0.0 || std::isnan(precision)) {
        return 0;
    }
    const double upfactor = samplingFrequency * source->step;
    if (std::fabs(upfactor - 2.0) < kDoublingTolerance)
        return Sound_upsampleTwice(source, target);
    const double newCountReal =
        std::floor((source->endTime - source->startTime) * samplingFrequency + 0.5);
    if (!(newCountReal >= 0.0 && newCountReal <= INT32_MAX))
        return 0;
    const int32_t newCount = static_cast<int32_t>(newCountReal);
    const double newStep = 1.0 / samplingFrequency;
    if (!Sound_init(target, source->startTime, source->endTime, newCount, newStep,
                    0.5 * ((source->startTime + source->endTime) - (newCount - 1.0) * newStep))) {
        return 0;
    }
    const long count = source->count;
    if (upfactor < 1.0) {
        // Anti-aliasing: cut everything above the new Nyquist frequency before decimating.
        const long nfft = NextPowerOfTwo(count + 2 * kFftMargin);
        if (nfft == 0) {
            Sound_freeSamples(target);
            return 0;
        }
        ScopedVector<double> buf(1, nfft);
        if (!buf || !Sound_init(work, source->startTime, source->endTime, source->count,
                                source->step, source->firstTime)) {
            Sound_freeSamples(target);
            return 0;
        }
        float* in = source->data[1];
        for (long i = 1; i <= count; ++i)
            buf[kFftMargin + i] = in[i];
        fftReal(buf.get(), nfft, 1);
        // A very low target frequency would put the cut below bin 0; it then removes everything.
        long cut = static_cast<long>(std::floor(nfft * upfactor));
        if (cut < 1)
            cut = 1;
        for (long k = cut; k <= nfft; ++k)
            buf[k] = 0.0;
        buf[2] = 0.0;
        fftReal(buf.get(), nfft, -1);
        float* scratch = work->data[1];
        const double scale = 2.0 / nfft;
        for (long i = 1; i <= count; ++i)
            scratch[i] = static_cast<float>(scale * buf[kFftMargin + i]);
        for (long i = 1; i <= count; ++i)
            in[i] = scratch[i];
        Sound_freeSamples(work);
    }
    if (precision <= 1.0) {
        const float* in = source->data[1];
        float* out = target->data[1];
        for (int32_t i = 1; i <= newCount; ++i) {
            const double x =
                (Sound_indexToTime(target, i) - source->firstTime) / source->step + 1.0;
            const double leftReal = std::floor(x);
            if (!(leftReal >= 1.0 && leftReal < static_cast<double>(count))) {
                out[i] = 0.0f;
                continue;
            }
            const long left = static_cast<long>(leftReal);
            const double phase = x - leftReal;
            out[i] = static_cast<float>((1.0 - phase) * in[left] + phase * in[left + 1]);
        }
    }
    return 1;
}

namespace {

// The three records of one speed change, released on every return path.
struct SpeedChangeRecords {
    Sound source;
    Sound target;
    Sound work;
    ~SpeedChangeRecords() {
        Sound_freeSamples(&source);
        Sound_freeSamples(&target);
        Sound_freeSamples(&work);
    }
};

// Resamples the block into r.target; returns its sample count, or 0 when nothing came out.
int32_t RunSpeedChange(SpeedChangeRecords& r, const int16_t* samples, int32_t byteCount,
                       float sampleRate, float factor) {
    if (!std::isfinite(sampleRate) || sampleRate <= 0.0f || !std::isfinite(factor) ||
        factor <= 0.0f) {
        return 0;
    }
    const float newRate = sampleRate / factor;
    if (!std::isfinite(newRate) || newRate <= 0.0f)
        return 0;
    if (!Sound_fromPcm16(&r.source, samples, byteCount, sampleRate))
        return 0;
    if (!Sound_resample(&r.source, &r.target, &r.work, newRate, kLinearPrecision) ||
        r.target.data == nullptr)
        return 0;
    const int32_t count = r.target.count;
    return count < 1 || count > INT32_MAX / 2 ? 0 : count;
}

}  // namespace

int32_t ChangeSpeedPcm16(const int16_t* samples, int32_t byteCount, int16_t** output,
                         float sampleRate, float factor) {
    if (output == nullptr)
        return 0;
    *output = nullptr;
    SpeedChangeRecords r;
    const int32_t count = RunSpeedChange(r, samples, byteCount, sampleRate, factor);
    // An empty result hands out no buffer, so 0 always means "nothing to release".
    if (count == 0)
        return 0;
    int16_t* out = new (std::nothrow) int16_t[count];
    if (out == nullptr)
        return 0;
    Sound_toPcm16Clipped(r.target, count, out);
    *output = out;
    return 2 * count;
}

int32_t ChangeSpeedPcm16Into(const int16_t* samples, int32_t byteCount, int16_t* output,
                             int32_t capacitySamples, float sampleRate, float factor) {
    SpeedChangeRecords r;
    const int32_t count = RunSpeedChange(r, samples, byteCount, sampleRate, factor);
    if (count > 0 && output != nullptr && capacitySamples > 0)
        Sound_toPcm16Clipped(r.target, count < capacitySamples ? count : capacitySamples, output);
    return 2 * count;
}

}  // namespace qm
