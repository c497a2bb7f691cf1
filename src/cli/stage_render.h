#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "effects/wave_format.h"
#include "filter/effect_stage.h"

namespace qm {

// Runs a whole stream through the effect stage exactly as a recording does: the connection
// announces the format, the audio arrives in buffers of `bufferBytes` and is changed in place,
// and at the end the drain hands out what the stage still holds. The result is the stage's
// silent lead-in followed by the whole input, processed.
struct StageRenderResult {
    bool ok = false;
    std::string error;         // one line, set when !ok
    std::vector<uint8_t> pcm;  // leadInBytes + the input's length when ok
    size_t leadInBytes = 0;
};

// The caller has selected the effect on `stage` already (as the recorder does before it
// connects). A bufferBytes of 0 means DefaultStageBufferBytes(format).
StageRenderResult RenderThroughStage(EffectStage& stage, const WaveFormat& format,
                                     std::span<const uint8_t> input, size_t bufferBytes);

// 10 ms of the stream in whole sample frames, at least one frame (and at least one byte).
size_t DefaultStageBufferBytes(const WaveFormat& format);

}  // namespace qm
