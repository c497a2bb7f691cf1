#include "dsp/sound.h"

#include <cmath>
#include <cstring>

#include "dsp/arrays.h"
#include "dsp/pitch.h"

namespace qm {

int32_t SaturatingIndex(double x) {
    if (std::isnan(x))
        return 0;
    if (x >= 2147483647.0)
        return INT32_MAX;
    if (x <= -2147483648.0)
        return INT32_MIN;
    return static_cast<int32_t>(x);
}

int Sound_init(Sound* sound, double startTime, double endTime, int32_t count, double step,
               double firstTime) {
    if (sound == nullptr)
        return 0;
    Sound_freeSamples(sound);
    sound->step = step;
    sound->startTime = startTime;
    sound->endTime = endTime;
    sound->firstTime = firstTime;
    sound->count = 0;
    sound->rowStep = 1.0;
    sound->rowStart = 1.0;
    sound->firstRow = 1.0;
    sound->rowCount = 0;
    if (count < 0)
        return 0;
    sound->data = allocMatrixOf<float>(1, 1, 1, count);
    if (sound->data == nullptr)
        return 0;
    sound->count = count;
    sound->rowCount = 1;
    return 1;
}

void Sound_freeSamples(Sound* sound) {
    if (sound == nullptr || sound->data == nullptr)
        return;
    freeMatrixOf(sound->data, 1, sound->rowCount < 1 ? 1 : sound->rowCount, 1, sound->count);
    sound->data = nullptr;
}

int Sound_fromPcm16(Sound* sound, const int16_t* samples, int32_t byteCount, double sampleRate) {
    if (sound == nullptr || byteCount < 0 || (samples == nullptr && byteCount >= 2) ||
        !std::isfinite(sampleRate) || sampleRate <= 0.0) {
        return 0;
    }
    const int32_t n = byteCount / 2;
    const double step = 1.0 / sampleRate;
    const double endTime = n * step;
    const double firstTime = 0.5 * step;
    // Rounds back to n; the spare zero slot covers a rounding that would land one above it.
    const int32_t count = SaturatingIndex(std::floor(endTime * sampleRate + 0.5));
    if (!Sound_init(sound, 0.0, endTime, count, step, firstTime))
        return 0;
    float* row = sound->data[1];
    const int32_t copied = count < n ? count : n;
    for (int32_t i = 1; i <= copied; ++i) {
        int16_t v = 0;
        std::memcpy(&v, samples + (i - 1), sizeof v);  // the buffer may be unaligned
        row[i] = static_cast<float>(v);
    }
    for (int32_t i = copied + 1; i <= count; ++i)
        row[i] = 0.0f;
    return 1;
}

namespace {

int32_t LowIndex(double firstTime, double step, double t) {
    return SaturatingIndex(std::floor((t - firstTime) / step) + 1.0);
}
int32_t HighIndex(double firstTime, double step, double t) {
    return SaturatingIndex(std::ceil((t - firstTime) / step) + 1.0);
}
int32_t NearestIndex(double firstTime, double step, double t) {
    return SaturatingIndex(std::floor((t - firstTime) / step + 1.5));
}

}  // namespace

int32_t Sound_timeToLowIndex(const Sound* s, double t) {
    return LowIndex(s->firstTime, s->step, t);
}
int32_t Sound_timeToHighIndex(const Sound* s, double t) {
    return HighIndex(s->firstTime, s->step, t);
}
int32_t Sound_timeToNearestIndex(const Sound* s, double t) {
    return NearestIndex(s->firstTime, s->step, t);
}
double Sound_indexToTime(const Sound* s, int32_t i) {
    return s->firstTime + (i - 1.0) * s->step;
}
int32_t Sound_timeToLowIndex(const Pitch* p, double t) {
    return LowIndex(p->firstTime, p->step, t);
}
int32_t Sound_timeToHighIndex(const Pitch* p, double t) {
    return HighIndex(p->firstTime, p->step, t);
}
int32_t Sound_timeToNearestIndex(const Pitch* p, double t) {
    return NearestIndex(p->firstTime, p->step, t);
}
double Sound_indexToTime(const Pitch* p, int32_t i) {
    return p->firstTime + (i - 1.0) * p->step;
}

void Sound_toPcm16Clipped(const Sound& sound, int32_t count, int16_t* out) {
    const float* in = sound.data[1];
    for (int32_t i = 1; i <= count; ++i) {
        float v = in[i];
        // The clip keeps the cast defined whatever the resynthesis or resampling produced.
        if (!(v <= 32767.0f))
            v = v != v ? 0.0f : 32767.0f;
        if (v < -32767.0f)
            v = -32767.0f;
        out[i - 1] = static_cast<int16_t>(v);
    }
}

}  // namespace qm
