#pragma once

#include <windows.h>

#include <strmif.h>

#include <atomic>
#include <cstddef>
#include <vector>

#include "streaming/win/com_ptr.h"
#include "streaming/win/media_type.h"

namespace qm {

// Pins and media types are handed out by snapshot enumerators: the list is taken when the
// enumerator is made, so a pin that changes its types meanwhile cannot move an index under a
// caller. Both keep the filter alive through the pin references they hold.

class PinEnumerator final : public IEnumPins {
  public:
    // Returns a new enumerator with one reference, or null when out of memory.
    static PinEnumerator* Create(std::vector<ComPtr<IPin>> pins, size_t position = 0);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override;

  private:
    PinEnumerator(std::vector<ComPtr<IPin>> pins, size_t position);
    ~PinEnumerator() = default;

    std::atomic<LONG> references_{1};
    std::vector<ComPtr<IPin>> pins_;
    size_t position_;
};

class MediaTypeEnumerator final : public IEnumMediaTypes {
  public:
    static MediaTypeEnumerator* Create(std::vector<MediaType> types, size_t position = 0);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override;

  private:
    MediaTypeEnumerator(std::vector<MediaType> types, size_t position);
    ~MediaTypeEnumerator() = default;

    std::atomic<LONG> references_{1};
    std::vector<MediaType> types_;
    size_t position_;
};

}  // namespace qm
