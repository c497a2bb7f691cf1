#pragma once

#include <windows.h>

#include <strmif.h>

#include <cstdint>

#include "effects/wave_format.h"
#include "filter/effect_stage.h"
#include "filter/win/voice_effect_control.h"
#include "streaming/win/critical_section.h"
#include "streaming/win/in_place_filter.h"

namespace qm {

// {BCEBBC76-58BA-42E7-8324-652335180A82}
inline constexpr CLSID CLSID_VoiceEffectFilter = {
    0xbcebbc76, 0x58ba, 0x42e7, {0x83, 0x24, 0x65, 0x23, 0x35, 0x18, 0x0a, 0x82}};

// "Audio Effects": the in-place stage of the capture graph that runs the selected voice
// effect over the PCM stream. Every sample is pushed through the effect stage's block FIFO and
// leaves with as many processed bytes as arrived; the processed stream lags the input by the
// FIFO's silent lead-in. With no effect selected samples pass unchanged and without delay.
//
// Threads: samples arrive on the source's streaming thread under the receive lock;
// SelectEffect comes from the user-interface thread at any time, and the stage serialises it
// against the sample in progress, so a switch lands between two samples.
//
// Ending a recording: EndStream() (from the recorder's thread while the graph runs) delivers
// the processed audio still held in the FIFO, then end-of-stream; samples arriving after it
// are dropped. The recorder calls it, waits for the graph's completion, then stops the graph.
class VoiceEffectFilter : public TransformInPlaceFilter, public IVoiceEffectControl {
  public:
    // Makes a filter with a reference count of 0 (the first query takes the first reference).
    // A null `result` gives no object; E_OUTOFMEMORY in *result when the filter or its FIFO
    // storage cannot be allocated.
    static VoiceEffectFilter* CreateInstance(IUnknown* outer, HRESULT* result);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return Outer()->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Outer()->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Outer()->Release(); }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;

    HRESULT STDMETHODCALLTYPE Unused3(uint32_t value) override;
    HRESULT STDMETHODCALLTYPE SelectEffect(int32_t index, uint32_t reserved) override;
    HRESULT STDMETHODCALLTYPE Unused5(uint32_t value) override;
    HRESULT STDMETHODCALLTYPE Unused6(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e,
                                      uint32_t f, uint32_t g, uint32_t h) override;

    // Audio of any subtype; anything else is refused with E_INVALIDARG.
    HRESULT CheckInputType(const AM_MEDIA_TYPE& type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) override;
    // The in-place filter proposes no types of its own: E_UNEXPECTED.
    HRESULT GetMediaType(int position, MediaType* type) override;
    // Either pin: a wave format becomes the stream's format (the effect is re-prepared and the
    // FIFO starts a new lead-in); any other format changes nothing. Always S_OK.
    HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* peer) override;
    HRESULT Transform(IMediaSample* sample) override;
    uint32_t DrainHeld(uint8_t* data, uint32_t capacity) override;

    // The stream's wave format as the last wave connection gave it (all zero before).
    WaveFormat StreamFormat() const { return stage_.Format(); }
    // The effect selected now (null: none), for the recording's tags.
    VoiceEffect* CurrentEffect() const { return stage_.CurrentEffect(); }

  protected:
    explicit VoiceEffectFilter(IUnknown* outer);
    ~VoiceEffectFilter() override = default;

  private:
    // Held for the whole of an interface query.
    CriticalSection queryLock_;
    // Held while a pin connection completes.
    CriticalSection connectionLock_;
    EffectStage stage_;
};

}  // namespace qm
