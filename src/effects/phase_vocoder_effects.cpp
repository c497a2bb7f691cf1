#include "effects/phase_vocoder_effects.h"

namespace {
constexpr EffectGuid kFemaleToMaleGuid = {
    0xA6FE09CD, 0xFE50, 0x4FCB, {0x84, 0x59, 0xB3, 0x3F, 0x24, 0x45, 0x49, 0x24}};
constexpr EffectGuid kBabyGuid = {
    0xC37130CA, 0xDB95, 0x4C5D, {0xBA, 0xB1, 0x2A, 0x80, 0xF3, 0x07, 0x61, 0xAE}};
constexpr EffectGuid kElderGuid = {
    0x8FD0C733, 0xE7D4, 0x457F, {0x9C, 0xD5, 0x55, 0x6F, 0xF9, 0x99, 0xC3, 0x49}};
constexpr EffectGuid kRobotGuid = {
    0xE169A24C, 0x2C69, 0x45CF, {0xB7, 0xA6, 0xC9, 0xA2, 0x4A, 0x21, 0x8D, 0x2E}};
constexpr EffectGuid kMonsterGuid = {
    0xC4270DEF, 0xFB9B, 0x4412, {0xB5, 0xA9, 0xA7, 0xCA, 0x1C, 0xB8, 0x16, 0x37}};
constexpr EffectGuid kGhostGuid = {
    0xDE15CC17, 0xD920, 0x4920, {0x82, 0x58, 0xB1, 0xAE, 0xE4, 0xDA, 0x00, 0xA7}};
constexpr EffectGuid kStrangeVoiceGuid = {
    0x4D813ABB, 0x2D50, 0x42DD, {0x96, 0x46, 0x85, 0x39, 0xD2, 0x0B, 0x64, 0xC5}};
}  // namespace

int PhaseVocoderEffect::Prepare(const WaveFormat*) {
    return 0;
}
void PhaseVocoderEffect::Release() {}
int PhaseVocoderEffect::Process(const WaveFormat*, uint8_t*, const uint32_t*) {
    return 0;
}

FemaleToMaleEffect::FemaleToMaleEffect() : PhaseVocoderEffect(4) {
    SetIdentity("FemaletoMale", kFemaleToMaleGuid);
}
int FemaleToMaleEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&pitchShift_}, params, count);
}
void FemaleToMaleEffect::Reset() {
    pitchShift_.ResetToDefault();
}

BabyEffect::BabyEffect() : PhaseVocoderEffect(8) {
    SetIdentity("Baby", kBabyGuid);
}
int BabyEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&pitchShift_}, params, count);
}
void BabyEffect::Reset() {
    pitchShift_.ResetToDefault();
}

ElderEffect::ElderEffect() : PhaseVocoderEffect(8) {
    SetIdentity("Elder", kElderGuid);
}
int ElderEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&tremoloFrequency_}, params, count);
}
void ElderEffect::Reset() {
    tremoloFrequency_.ResetToDefault();
}

RobotEffect::RobotEffect() : PhaseVocoderEffect(8) {
    SetIdentity("Robot", kRobotGuid);
}
int RobotEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({}, params, count);
}
uint32_t RobotEffect::GetBlockSize(const WaveFormat* format) {
    // Longer frames than the others: 60 ms of the interleaved stream.
    return StreamBlockSize(format, 0.06);
}

MonsterEffect::MonsterEffect() : PhaseVocoderEffect(8) {
    SetIdentity("Monster", kMonsterGuid);
}
int MonsterEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&pitchShift_}, params, count);
}
void MonsterEffect::Reset() {
    pitchShift_.ResetToDefault();
}

GhostEffect::GhostEffect() : PhaseVocoderEffect(8) {
    SetIdentity("Ghost", kGhostGuid);
}
int GhostEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&delayTime_, &decayDegree_, &pitchShift_}, params, count);
}
void GhostEffect::Reset() {
    delayTime_.ResetToDefault();
    decayDegree_.ResetToDefault();
    pitchShift_.ResetToDefault();
}

StrangeVoiceEffect::StrangeVoiceEffect() : PhaseVocoderEffect(8) {
    SetIdentity("Strange Voice", kStrangeVoiceGuid);
}
int StrangeVoiceEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&changeFrequency_, &pitchShift_}, params, count);
}
void StrangeVoiceEffect::Reset() {
    changeFrequency_.ResetToDefault();
    pitchShift_.ResetToDefault();
}
