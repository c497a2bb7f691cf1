#include "dsp/pitch_query.h"

#include "dsp/sound.h"

namespace qm {

int Pitch_isVoicedFrame(const Pitch* pitch, int32_t frame) {
    if (pitch == nullptr || pitch->frames == nullptr || frame < 1 || frame > pitch->count)
        return 0;
    const PitchFrame& f = pitch->frames[frame];
    if (f.candidates == nullptr || f.candidateCount < 1)
        return 0;
    const double hz = f.candidates[1].frequency;
    return hz > 0.0 && hz < pitch->ceiling ? 1 : 0;
}

double Pitch_valueAtTime(const Pitch* pitch, double t) {
    if (pitch == nullptr)
        return 0.0;
    const int32_t i = Sound_timeToNearestIndex(pitch, t);
    if (i < 1 || i > pitch->count || !Pitch_isVoicedFrame(pitch, i))
        return 0.0;
    const double fi = pitch->frames[i].candidates[1].frequency;
    const double ti = Sound_indexToTime(pitch, i);
    const bool left = t <= ti;
    const int32_t n = left ? i - 1 : i + 1;
    if (!Pitch_isVoicedFrame(pitch, n))
        return fi;
    const double tn = left ? ti - pitch->step : ti + pitch->step;
    const double fn = pitch->frames[n].candidates[1].frequency;
    return (fn * (t - ti) + fi * (tn - t)) / (tn - ti);
}

int Pitch_nextVoicedInterval(const Pitch* pitch, double t, double* stretchStart,
                             double* stretchEnd) {
    if (pitch == nullptr || stretchStart == nullptr || stretchEnd == nullptr)
        return 0;
    int32_t i = Sound_timeToHighIndex(pitch, t);
    if (i > pitch->count)
        return 0;
    if (i < 1)
        i = 1;
    while (i <= pitch->count && !Pitch_isVoicedFrame(pitch, i))
        ++i;
    if (i > pitch->count)
        return 0;
    int32_t j = i;
    while (j <= pitch->count && Pitch_isVoicedFrame(pitch, j))
        ++j;
    *stretchStart = Sound_indexToTime(pitch, i) - 0.5 * pitch->step;
    *stretchEnd = Sound_indexToTime(pitch, j - 1) + 0.5 * pitch->step;
    return 1;
}

}  // namespace qm
