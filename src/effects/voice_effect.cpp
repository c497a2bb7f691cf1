#include "effects/voice_effect.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace qm {

VoiceEffect::VoiceEffect() {
    std::snprintf(name_, sizeof(name_), "%s", "Unknown Effect Name");
}

const EffectGuid* VoiceEffect::GetGUID() const {
    return &guid_;
}

int VoiceEffect::Process(const WaveFormat*, uint8_t*, const uint32_t*) {
    return 1;
}

const char* VoiceEffect::GetName() const {
    return name_;
}

uint32_t VoiceEffect::GetBlockSize(const WaveFormat* format) {
    // About 32 ms of the interleaved stream, rounded to a power of two.
    return StreamBlockSize(format, 0.032);
}

uint32_t VoiceEffect::StreamBlockSize(const WaveFormat* format, double seconds) {
    if (format == nullptr) {
        frameLength_ = 0;
        return 0;
    }
    const double x = static_cast<double>(format->samplesPerSec) * format->channels * seconds;
    frameLength_ = FrameLengthFor(x);
    const uint32_t bytes = BlockBytes(frameLength_, format->bitsPerSample);
    if (bytes == 0)
        frameLength_ = 0;
    return bytes;
}

void VoiceEffect::Reset() {}

int VoiceEffect::Reserved(uint32_t, uint32_t) {
    return 1;
}

uint32_t VoiceEffect::FrameLengthFor(double samplesPerFrame) {
    if (!std::isfinite(samplesPerFrame) || samplesPerFrame <= 0.0)
        return 0;
    const double exponent = std::trunc(std::log2(samplesPerFrame) + 0.5);
    // A negative exponent is a fraction of a sample, which as a whole number is none. A frame
    // of 2^31 samples would already need gigabytes; nothing real gets near it.
    if (exponent < 0.0 || exponent >= 31.0)
        return 0;
    return uint32_t{1} << static_cast<int>(exponent);
}

void VoiceEffect::SetIdentity(const char* name, const EffectGuid& guid) {
    std::snprintf(name_, sizeof(name_), "%s", name);
    guid_ = guid;
}

int VoiceEffect::ListParams(std::initializer_list<EffectParam*> own, EffectParam** params,
                            uint32_t* count) {
    if (count == nullptr)
        return 0;
    const auto needed = static_cast<uint32_t>(own.size());
    if (needed == 0) {
        *count = 0;
        return 1;
    }
    if (params == nullptr || *count < needed) {
        *count = needed;
        return 0;
    }
    uint32_t i = 0;
    for (EffectParam* param : own)
        params[i++] = param;
    *count = needed;
    return 1;
}

uint32_t VoiceEffect::BlockBytes(uint64_t samples, uint32_t bits) {
    const uint64_t bytes = samples * bits / 8;
    if (bytes > std::numeric_limits<uint32_t>::max())
        return 0;
    return static_cast<uint32_t>(bytes);
}

}  // namespace qm
