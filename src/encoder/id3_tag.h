#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quillmar_version.h"

namespace qm {

// ID3v2 tags at the start of an MP3 file: the text frames a recording carries (when it was
// made, by what, its title and the voice that made it). Written as ID3v2.4 with UTF-8 text and
// syncsafe sizes; read back from v2.3 and v2.4. Plain functions over bytes.

// The software a file names as its encoder (TSSE).
inline constexpr char kRecorderSoftware[] = "Quillmar Recorder " QUILLMAR_VERSION;
// The description of the user text frame that holds the voice recipe.
inline constexpr char kVoiceEffectDescription[] = "Voice effect";

// One text frame: `id` such as "TIT2"; for "TXXX" the `description` names the value.
struct Id3Text {
    std::string id;
    std::string description;
    std::string text;
};

// What a file's tag says about a recording. Empty fields are left out of the tag.
struct RecordingTags {
    std::string title;                         // TIT2
    std::string recorded;                      // TDRC, "YYYY-MM-DDThh:mm:ss"
    std::string software = kRecorderSoftware;  // TSSE
    std::string voice;                         // TXXX "Voice effect"
};

// The whole tag (10-byte header and frames, no padding), or empty when a frame's text is
// too long for a tag (more than 256 MB in all).
std::vector<uint8_t> WriteId3v24(const RecordingTags& tags);

struct Id3Tag {
    uint8_t majorVersion = 0;  // 3 or 4
    size_t totalBytes = 0;     // header, frames, padding and footer: where the audio starts
    std::vector<Id3Text> texts;
};

// The bytes an ID3v2 tag at the start of `file` takes (0 when there is none); the size field
// may point past the end of a cut file.
size_t Id3TagBytes(std::span<const uint8_t> file);

// Reads the text frames of the ID3v2.3 or v2.4 tag at the start of `file`; nothing when there
// is no tag, it is of another version, or its header is damaged. Frames that are not text, are
// cut short or carry a text encoding that does not exist end or skip the reading; what was read
// before them is kept. Text comes back as UTF-8.
std::optional<Id3Tag> ReadId3Tag(std::span<const uint8_t> file);

// The text of the first frame `id` (for TXXX, the one with `description`); empty when absent.
std::string FindId3Text(const Id3Tag& tag, std::string_view id, std::string_view description = {});

// The voice recipe: the effect's name and each parameter's value, as
// "Male2Female; PitchShift=10; ToneShift=4" ("none" without an effect). The parser gives the
// name and the pairs back; false when the text is not such a recipe.
using VoiceParams = std::vector<std::pair<std::string, int32_t>>;
std::string FormatVoiceRecipe(std::string_view effectName, const VoiceParams& params);
bool ParseVoiceRecipe(std::string_view recipe, std::string* effectName, VoiceParams* params);

}  // namespace qm
