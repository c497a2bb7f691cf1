#include "effects/male_to_female.h"

namespace {
constexpr EffectGuid kMaleToFemaleGuid = {
    0x0C5B34B6, 0x5B60, 0x4C7A, {0x99, 0x02, 0x91, 0xBF, 0x6B, 0x5E, 0xE8, 0xB2}};
}

MaleToFemaleEffect::MaleToFemaleEffect() {
    SetIdentity("Male2Female", kMaleToFemaleGuid);
}

int MaleToFemaleEffect::Prepare(const WaveFormat* format) {
    return format != nullptr && IsPlausibleStreamFormat(*format) && FrameLength() != 0 ? 1 : 0;
}

void MaleToFemaleEffect::Release() {}

int MaleToFemaleEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&pitchShift_, &toneShift_}, params, count);
}

int MaleToFemaleEffect::Process(const WaveFormat*, uint8_t*, const uint32_t*) {
    return 0;
}

uint32_t MaleToFemaleEffect::GetBlockSize(const WaveFormat* format) {
    if (format == nullptr) {
        SetFrameLength(0);
        return 0;
    }
    // About 0.2 s of one channel; the block carries that many frames of every channel.
    const uint32_t n = FrameLengthFor(static_cast<double>(format->samplesPerSec) * 0.2);
    const uint64_t bytes64 =
        (static_cast<uint64_t>(n) * format->bitsPerSample / 8) * format->channels;
    const uint32_t bytes = bytes64 > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes64);
    SetFrameLength(bytes == 0 ? 0 : n);
    return bytes;
}

void MaleToFemaleEffect::Reset() {
    pitchShift_.ResetToDefault();
    toneShift_.ResetToDefault();
}
