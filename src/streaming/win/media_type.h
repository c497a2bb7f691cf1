#pragma once

#include <windows.h>

#include <mmreg.h>
#include <strmif.h>
#include <vfwmsgs.h>

#include <cstdint>
#include <optional>

#include "effects/wave_format.h"

namespace qm {

// Owns one AM_MEDIA_TYPE value: its format block (task memory, as the media framework hands
// them between objects) and its extra unknown. Copies are deep; a failed copy leaves an
// empty type (every GUID zero, no format), which no pin accepts.
class MediaType {
  public:
    MediaType() = default;
    explicit MediaType(const AM_MEDIA_TYPE& source) { Assign(source); }
    MediaType(const MediaType& other) { Assign(other.type_); }
    MediaType& operator=(const MediaType& other);
    MediaType(MediaType&& other) noexcept;
    MediaType& operator=(MediaType&& other) noexcept;
    ~MediaType() { Clear(); }

    // Deep copy of `source`; E_OUTOFMEMORY leaves this type empty.
    HRESULT Assign(const AM_MEDIA_TYPE& source);
    void Clear();
    bool IsEmpty() const { return IsEqualGUID(type_.majortype, GUID_NULL) != FALSE; }

    const AM_MEDIA_TYPE& Get() const { return type_; }
    const AM_MEDIA_TYPE* operator->() const { return &type_; }

    // Deep copy into caller-owned storage (ConnectionMediaType and the like).
    HRESULT CopyTo(AM_MEDIA_TYPE* target) const;

  private:
    AM_MEDIA_TYPE type_{};
};

// Frees the format block and the unknown of a caller-owned type; leaves the GUIDs.
void FreeMediaTypeFields(AM_MEDIA_TYPE& type);
// Deep copy of `source` into a new task-memory type (enumerators hand these out), or null.
AM_MEDIA_TYPE* CreateMediaTypeCopy(const AM_MEDIA_TYPE& source);
// Frees a task-memory type from CreateMediaTypeCopy or from an enumerator.
void DeleteMediaType(AM_MEDIA_TYPE* type);

// Same major type, subtype, format type and format bytes.
bool SameMediaType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
// `partial` leaves fields open with GUID_NULL; the others must match `full`.
bool MatchesPartialType(const AM_MEDIA_TYPE& partial, const AM_MEDIA_TYPE& full);

// The wave format of an audio type, or null when the format block is not a wave format or is
// too short to hold one.
const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& type);

// The one place where the platform's wave-format record becomes the portable one the effects
// read: for a type whose format type is a wave format, the first 18 bytes of its format block
// or fewer (missing fields read as zero, a null block as all zero); nothing for any other
// format type.
std::optional<WaveFormat> PortableWaveFormat(const AM_MEDIA_TYPE& type);

// Interleaved integer PCM; sizes and rates are not checked here.
MediaType MakePcmMediaType(uint16_t channels, uint32_t samplesPerSecHz, uint16_t bitsPerSample);

// Stream time, in 100 ns units, that `bytes` of `format` last (0 without a byte rate).
REFERENCE_TIME DurationOfBytes(const WAVEFORMATEX& format, uint64_t bytes);

}  // namespace qm
