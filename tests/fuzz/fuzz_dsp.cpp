// Drives the signal-processing library's outside-facing calls with rates, factors, analysis
// settings and samples taken from the fuzzer's input: the speed change, the pitch analysis
// and the sinc interpolation.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"

#include "dsp/pitch.h"
#include "dsp/resample.h"
#include "dsp/sound.h"

using namespace qm;

namespace {}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const float rate = in.Take<float>();
    const float factor = in.Take<float>();
    const double timeStep = in.Take<double>();
    const double floorHz = in.Take<double>();
    const double ceilingHz = in.Take<double>();
    const int32_t analysisRate = in.Take<int32_t>();
    const double position = in.Take<double>();
    // Keep runs short: at most 8000 samples, and rates and steps that give at most a few
    // thousand frames or output samples; everything outside is still handed to the library
    // when it is a value the library must refuse.
    const size_t samples = in.RestSize() / 2 > 8000 ? 8000 : in.RestSize() / 2;
    std::vector<int16_t> pcm(samples);
    if (samples > 0)
        std::memcpy(pcm.data(), in.Rest(), samples * 2);
    const int32_t bytes = static_cast<int32_t>(samples * 2);

    // A tiny positive factor asks for an output of billions of samples: valid, but it only
    // measures the allocator. Every refusable combination still goes in.
    const bool usable =
        std::isfinite(rate) && std::isfinite(factor) && rate > 0.0f && factor > 0.0f;
    if (!usable || factor > 0.05f) {
        int16_t* out = nullptr;
        const int32_t outBytes = ChangeSpeedPcm16(pcm.data(), bytes, &out, rate, factor);
        if ((outBytes == 0) != (out == nullptr))
            __builtin_trap();
        delete[] out;
    }

    if (std::isfinite(floorHz) && floorHz > 0.0 && floorHz < 20.0)
        return 0;  // valid but slow: long windows
    analysisSampleRate = analysisRate;
    Sound sound;
    if (Sound_fromPcm16(&sound, pcm.data(), bytes, 8000.0)) {
        Pitch pitch;
        Sound_to_Pitch(&sound, &pitch, timeStep, floorHz, ceilingHz);
        Pitch_freeFrames(&pitch);
        std::vector<double> y(samples + 1);  // y[0] is the 1-based array's y[1]
        for (size_t i = 0; i < samples; ++i)
            y[i] = pcm[i];
        (void)interpolateSinc(y.data() - 1, static_cast<long>(samples), position, 30);
        Sound_freeSamples(&sound);
    }
    return 0;
}
