// Other modules reach the effects through the executable's export. The test process plays such
// a module in a process of its own: the program is loaded as a module away from its preferred
// base (this test's own image holds it) and without its run-time start-up, and the objects it
// hands out must still answer, allocate and process like the test's own copy of the registry.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "effects/effect_registry.h"

using namespace qm;

namespace {

using EnumEffectFn = int (*)(VoiceEffect**, uint32_t*);

TEST(RecorderExecutable, HandsOutTheEightEffectsToAModuleThatLoadsIt) {
    HMODULE program = LoadLibraryA(QUILLMAR_RECORDER_EXE);
    ASSERT_NE(program, nullptr) << QUILLMAR_RECORDER_EXE << " error " << GetLastError();
    EXPECT_EQ(GetProcAddress(program, "enumeffect"), nullptr) << "names are exact";
    const auto enumEffect = reinterpret_cast<EnumEffectFn>(
        reinterpret_cast<void*>(GetProcAddress(program, "EnumEffect")));
    ASSERT_NE(enumEffect, nullptr);

    uint32_t count = 0;
    EXPECT_EQ(enumEffect(nullptr, &count), 0);
    ASSERT_EQ(count, EffectRegistry::kEffectCount);
    VoiceEffect* effects[EffectRegistry::kEffectCount] = {};
    ASSERT_EQ(enumEffect(effects, &count), 1);
    std::set<VoiceEffect*> distinct;
    const auto& own = EffectRegistry::Instance().Effects();
    for (uint32_t i = 0; i < count; ++i) {
        ASSERT_NE(effects[i], nullptr) << i;
        distinct.insert(effects[i]);
        // Objects of the program, not of this process's registry, answering through their
        // own virtual tables.
        EXPECT_NE(effects[i], own[i]) << i;
        EXPECT_STREQ(effects[i]->GetName(), own[i]->GetName()) << i;
        EXPECT_EQ(std::memcmp(effects[i]->GetGUID(), own[i]->GetGUID(), sizeof(EffectGuid)), 0)
            << i;
        WaveFormat format{1, 1, 22050, 44100, 2, 16, 0};
        std::vector<uint8_t> block(effects[i]->GetBlockSize(&format), 0);
        const auto bytes = static_cast<uint32_t>(block.size());
        ASSERT_EQ(bytes, own[i]->GetBlockSize(&format)) << i;
        ASSERT_EQ(effects[i]->Prepare(&format), 1) << i;
        EXPECT_EQ(effects[i]->Process(&format, block.data(), &bytes), 1) << i;
        effects[i]->Release();
    }
    EXPECT_EQ(distinct.size(), count);
    // The same objects on a second call: the registry lives as long as the program's image.
    VoiceEffect* again[EffectRegistry::kEffectCount] = {};
    ASSERT_EQ(enumEffect(again, &count), 1);
    EXPECT_EQ(std::memcmp(again, effects, sizeof(effects)), 0);
    FreeLibrary(program);
}

}  // namespace
