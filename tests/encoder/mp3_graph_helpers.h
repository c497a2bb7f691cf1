#pragma once

#include <windows.h>

#include <strmif.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "encoder/id3_tag.h"
#include "encoder/mp3_frame.h"
#include "streaming/win/com_ptr.h"

namespace qm {

// Pravik.dll as the recorder uses it: loaded from the program's folder (once per process, and
// kept loaded) and asked through its exported DllGetClassObject.
HMODULE PravikModule();
HRESULT CreateFromPravik(const CLSID& clsid, IUnknown* outer, REFIID iid, void** out);
ComPtr<IBaseFilter> CreatePravikEncoder();

// The platform's File Writer pointed at `path` (deleted first), or null.
ComPtr<IBaseFilter> CreateFileWriter(const std::string& path);

std::vector<uint8_t> ReadFileBytes(const std::string& path);

// What a file written through the MP3 file stage holds: its ID3 tag, its Info tag, and the
// audio frames behind the tag frame as the frame counter follows them.
struct TaggedMp3 {
    std::optional<Id3Tag> id3;
    size_t id3Bytes = 0;
    std::optional<Mp3InfoTag> tag;
    Mp3FrameCounter audio;
};
TaggedMp3 ReadTaggedMp3(const std::vector<uint8_t>& file);

}  // namespace qm
