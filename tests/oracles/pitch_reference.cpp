#include "oracles/pitch_reference.h"

#include "dsp/pitch_analyser.h"

namespace qm {

int Sound_to_PitchReference(Sound* sound, Pitch* pitch, const PitchSettings& settings) {
    pitch_detail::PitchAnalysisPlan plan;
    if (!pitch_detail::PlanPitchAnalysis(sound, pitch, settings, plan))
        return 0;
    pitch_detail::PitchAnalyser<FramePair, false> analyser(sound, pitch, plan.settings,
                                                           plan.ceiling, plan.sizes);
    return analyser.Prepare() && analyser.Run() ? 1 : 0;
}

}  // namespace qm
