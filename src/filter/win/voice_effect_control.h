#pragma once

#include <windows.h>

#include <unknwn.h>

#include <cstdint>

namespace qm {

// {49DF63FD-443F-46F6-8CE2-D643BC144464}
inline constexpr IID IID_IVoiceEffectControl = {
    0x49df63fd, 0x443f, 0x46f6, {0x8c, 0xe2, 0xd6, 0x43, 0xbc, 0x14, 0x44, 0x64}};

// The recorder's control of the voice effect stage. The order of the methods is the
// interface's binary layout; the unnamed slots take their arguments and do nothing.
struct IVoiceEffectControl : public IUnknown {
    // Slot 3: returns S_FALSE.
    virtual HRESULT STDMETHODCALLTYPE Unused3(uint32_t value) = 0;
    // Slot 4: selects the effect of a recorder index (1 Baby, 2 Elder, 3 FemaletoMale,
    // 4 Robot, 5 Male2Female; anything else switches effects off). Always S_OK.
    virtual HRESULT STDMETHODCALLTYPE SelectEffect(int32_t index, uint32_t reserved) = 0;
    // Slot 5: returns S_OK.
    virtual HRESULT STDMETHODCALLTYPE Unused5(uint32_t value) = 0;
    // Slot 6: returns S_OK.
    virtual HRESULT STDMETHODCALLTYPE Unused6(uint32_t a, uint32_t b, uint32_t c, uint32_t d,
                                              uint32_t e, uint32_t f, uint32_t g, uint32_t h) = 0;

  protected:
    ~IVoiceEffectControl() = default;
};

}  // namespace qm

// The interface's identifier for __uuidof, declared where the compiler's template lives.
__CRT_UUID_DECL(qm::IVoiceEffectControl, 0x49df63fd, 0x443f, 0x46f6, 0x8c, 0xe2, 0xd6, 0x43, 0xbc,
                0x14, 0x44, 0x64)
