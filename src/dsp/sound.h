#pragma once

#include <cstdint>

namespace qm {

// A sampled mono signal on a time axis. Samples are 1-based: data[1][1..count], in PCM units
// (-32768..32767 for converted 16-bit PCM). The owner releases the samples with
// Sound_freeSamples before destroying the record.
struct Sound {
    virtual ~Sound() = default;

    double step = 0.0;       // sample spacing, seconds (1 / sampling rate)
    double startTime = 0.0;  // start of the time domain, seconds
    double endTime = 0.0;    // end of the time domain, seconds
    double firstTime = 0.0;  // time of sample 1, seconds
    int32_t count = 0;       // number of samples
    double rowStep = 1.0;
    double rowStart = 1.0;
    double firstRow = 1.0;
    int32_t rowCount = 0;  // 1 once samples exist (mono)
    float** data = nullptr;
};

struct Pitch;

// Fills the time axis and allocates count zeroed samples (any samples the record held are
// released first). Returns 1, or 0 when memory is exhausted or count is negative; the record
// then holds no samples.
int Sound_init(Sound* sound, double startTime, double endTime, int32_t count, double step,
               double firstTime);
void Sound_freeSamples(Sound* sound);

// Builds the sound from byteCount / 2 little-endian 16-bit samples (an odd last byte is
// ignored). Returns 1, or 0 for a null sound, a negative byte count, missing samples, a
// sampling rate that is not a positive finite number, or exhausted memory.
int Sound_fromPcm16(Sound* sound, const int16_t* samples, int32_t byteCount, double sampleRate);

// Writes samples 1..count of the sound's first channel as 16-bit values, clipped to +-32767
// and truncated toward zero (NaN becomes 0). `out` holds count entries.
void Sound_toPcm16Clipped(const Sound& sound, int32_t count, int16_t* out);

// Time <-> index on the time axis of a sound (samples) or a pitch record (frames). They do not
// clamp to 1..count; a result beyond the 32-bit range saturates, and a time that gives no
// number (NaN) maps to index 0, which every caller treats as "before the first".
int32_t Sound_timeToLowIndex(const Sound* sound, double t);      // floor(...) + 1
int32_t Sound_timeToHighIndex(const Sound* sound, double t);     // ceil(...) + 1
int32_t Sound_timeToNearestIndex(const Sound* sound, double t);  // floor(... + 1.5)
double Sound_indexToTime(const Sound* sound, int32_t i);
int32_t Sound_timeToLowIndex(const Pitch* pitch, double t);
int32_t Sound_timeToHighIndex(const Pitch* pitch, double t);
int32_t Sound_timeToNearestIndex(const Pitch* pitch, double t);
double Sound_indexToTime(const Pitch* pitch, int32_t i);

// A finite double as a 32-bit index, saturating at the type's limits; NaN gives 0.
int32_t SaturatingIndex(double x);

}  // namespace qm
