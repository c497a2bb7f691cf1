#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/effect_registry.h"

using namespace qm;

namespace {

struct ParamRow {
    const char* name;
    int32_t min, max, def;
};

struct EffectRow {
    const char* name;
    EffectGuid guid;
    std::vector<ParamRow> params;
};

// The eight effects in registry order, as the effect catalogue and EnumEffect's callers know
// them.
const std::vector<EffectRow>& Expected() {
    static const std::vector<EffectRow> rows = {
        {"Male2Female",
         {0x0C5B34B6, 0x5B60, 0x4C7A, {0x99, 0x02, 0x91, 0xBF, 0x6B, 0x5E, 0xE8, 0xB2}},
         {{"PitchShift", 0, 15, 10}, {"ToneShift", 0, 12, 4}}},
        {"FemaletoMale",
         {0xA6FE09CD, 0xFE50, 0x4FCB, {0x84, 0x59, 0xB3, 0x3F, 0x24, 0x45, 0x49, 0x24}},
         {{"PitchShift", -20, 0, -10}}},
        {"Baby",
         {0xC37130CA, 0xDB95, 0x4C5D, {0xBA, 0xB1, 0x2A, 0x80, 0xF3, 0x07, 0x61, 0xAE}},
         {{"PitchShift", 10, 30, 16}}},
        {"Elder",
         {0x8FD0C733, 0xE7D4, 0x457F, {0x9C, 0xD5, 0x55, 0x6F, 0xF9, 0x99, 0xC3, 0x49}},
         {{"tremolo frequence", 0, 10, 6}}},
        {"Robot",
         {0xE169A24C, 0x2C69, 0x45CF, {0xB7, 0xA6, 0xC9, 0xA2, 0x4A, 0x21, 0x8D, 0x2E}},
         {}},
        {"Monster",
         {0xC4270DEF, 0xFB9B, 0x4412, {0xB5, 0xA9, 0xA7, 0xCA, 0x1C, 0xB8, 0x16, 0x37}},
         {{"PitchShift", -30, -8, -12}}},
        {"Ghost",
         {0xDE15CC17, 0xD920, 0x4920, {0x82, 0x58, 0xB1, 0xAE, 0xE4, 0xDA, 0x00, 0xA7}},
         {{"delay time", 0, 70, 30}, {"decay degree", 1, 10, 5}, {"PitchShift", -10, 10, -3}}},
        {"Strange Voice",
         {0x4D813ABB, 0x2D50, 0x42DD, {0x96, 0x46, 0x85, 0x39, 0xD2, 0x0B, 0x64, 0xC5}},
         {{"change frequence", 0, 10, 2}, {"Pitchshift", 0, 10, 0}}},
    };
    return rows;
}

// Null or short arrays get the count and no writes; a long one gets the same eight objects,
// in registry order, on every call (callers keep the pointers until exit).
TEST(EnumEffect, HandsOutTheEightObjectsInRegistryOrder) {
    VoiceEffect* const sentinel = reinterpret_cast<VoiceEffect*>(0x1);
    std::vector<VoiceEffect*> effects(10, sentinel);
    uint32_t count = 0;
    EXPECT_EQ(EnumEffect(nullptr, &count), 0);
    EXPECT_EQ(count, 8u);
    count = 7;
    EXPECT_EQ(EnumEffect(effects.data(), &count), 0);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(effects, std::vector<VoiceEffect*>(10, sentinel));
    EXPECT_EQ(EnumEffect(effects.data(), nullptr), 0);

    count = 10;
    ASSERT_EQ(EnumEffect(effects.data(), &count), 1);
    EXPECT_EQ(count, 8u);
    EXPECT_EQ(effects[8], sentinel);
    for (size_t i = 0; i < 8; ++i) {
        const EffectRow& row = Expected()[i];
        EXPECT_STREQ(effects[i]->GetName(), row.name);
        EXPECT_EQ(FindEffectByGUID(&row.guid), effects[i]) << row.name;
        EXPECT_EQ(EffectRegistry::Instance().Effects()[i], effects[i]);
        // All sixteen bytes count.
        EffectGuid guid = row.guid;
        guid.data4[7] ^= 0x01;
        EXPECT_EQ(FindEffectByGUID(&guid), nullptr) << row.name;
        guid = row.guid;
        guid.data1 ^= 0x80000000u;
        EXPECT_EQ(FindEffectByGUID(&guid), nullptr) << row.name;
    }
    EXPECT_EQ(FindEffectByGUID(nullptr), nullptr);
}

// The enumeration contract (count always stored, a short array untouched), each parameter's
// name and range, and values stored unchecked until Reset restores the defaults.
TEST(GetParams, ListsEachEffectsParametersAndResetRestoresTheirDefaults) {
    for (const EffectRow& row : Expected()) {
        SCOPED_TRACE(row.name);
        VoiceEffect* effect = FindEffectByGUID(&row.guid);
        ASSERT_NE(effect, nullptr);
        const auto p = static_cast<uint32_t>(row.params.size());
        uint32_t count = 99;
        EXPECT_EQ(effect->GetParams(nullptr, &count), p == 0 ? 1 : 0);
        EXPECT_EQ(count, p);
        std::vector<EffectParam*> params(p + 1, nullptr);
        if (p > 0) {
            count = p - 1;
            EXPECT_EQ(effect->GetParams(params.data(), &count), 0);
            EXPECT_EQ(count, p);
            EXPECT_EQ(params, std::vector<EffectParam*>(p + 1, nullptr));
        }
        count = p + 1;
        ASSERT_EQ(effect->GetParams(params.data(), &count), 1);
        EXPECT_EQ(count, p);
        for (uint32_t i = 0; i < p; ++i) {
            const ParamRow& want = row.params[i];
            EXPECT_STREQ(params[i]->GetName(), want.name);
            int32_t min = 0, max = 0, def = 0, step = 0;
            params[i]->GetRange(&min, &max, &def, &step);
            EXPECT_EQ(std::vector<int32_t>({min, max, def, step}),
                      std::vector<int32_t>({want.min, want.max, want.def, 1}));
            params[i]->SetValue(want.max + 1000);
            EXPECT_EQ(params[i]->GetValue(), want.max + 1000);
        }
        effect->Reset();
        for (uint32_t i = 0; i < p; ++i)
            EXPECT_EQ(params[i]->GetValue(), row.params[i].def);
    }
}

// Each effect's frame is a fixed time of the interleaved stream (Male2Female: of one
// channel), rounded to a power of two; formats that give no usable frame, and no format at
// all, give no block.
TEST(VoiceEffect, BlockSizeFollowsTheEffectsRule) {
    struct Row {
        const char* effect;
        uint32_t rate;
        uint16_t channels, bits;
        uint32_t frameLength, bytes;
    };
    for (const Row& row :
         {Row{"Baby", 44100, 1, 16, 1024, 2048}, Row{"Baby", 44100, 2, 16, 2048, 4096},
          Row{"FemaletoMale", 8000, 1, 16, 256, 512}, Row{"Elder", 22050, 1, 16, 512, 1024},
          Row{"Ghost", 44100, 1, 8, 1024, 1024}, Row{"Monster", 48000, 2, 32, 4096, 16384},
          Row{"Robot", 44100, 1, 16, 2048, 4096}, Row{"Male2Female", 44100, 1, 16, 8192, 16384},
          Row{"Male2Female", 44100, 2, 16, 8192, 32768},
          Row{"Male2Female", 11025, 1, 16, 2048, 4096},
          // An all-zero format, as a selection before the first connection passes it.
          Row{"Baby", 0, 0, 0, 0, 0}, Row{"Male2Female", 0, 0, 0, 0, 0},
          Row{"Baby", 5, 1, 16, 0, 0},     // a frame of a fraction of a sample
          Row{"Baby", 44100, 1, 0, 0, 0},  // a frame length but no bytes to carry it
          // Absurd formats must not overflow 32-bit sizes.
          Row{"Baby", 0xFFFFFFFFu, 0xFFFF, 0xFFFF, 0, 0},
          Row{"Male2Female", 0xFFFFFFFFu, 0xFFFF, 0xFFFF, 0, 0}}) {
        VoiceEffect* effect = EffectRegistry::Instance().FindByName(row.effect);
        WaveFormat format;
        format.channels = row.channels;
        format.samplesPerSec = row.rate;
        format.bitsPerSample = row.bits;
        EXPECT_EQ(effect->GetBlockSize(&format), row.bytes) << row.effect << " " << row.rate;
        EXPECT_EQ(effect->FrameLength(), row.frameLength) << row.effect << " " << row.rate;
    }
    for (VoiceEffect* effect : EffectRegistry::Instance().Effects()) {
        EXPECT_EQ(effect->GetBlockSize(nullptr), 0u) << effect->GetName();
        EXPECT_EQ(effect->Prepare(nullptr), 0) << effect->GetName();
    }
}

TEST(EffectRegistry, FindsNamesIgnoringCase) {
    const EffectRegistry& registry = EffectRegistry::Instance();
    EXPECT_STREQ(registry.FindByName("strange voice")->GetName(), "Strange Voice");
    EXPECT_STREQ(registry.FindByName("MALE2FEMALE")->GetName(), "Male2Female");
    EXPECT_EQ(registry.FindByName("Male2"), nullptr);
    EXPECT_EQ(registry.FindByName(nullptr), nullptr);
}

}  // namespace
