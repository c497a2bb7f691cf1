#include "encoder/id3_tag.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "encoder/big_endian.h"

namespace qm {

namespace {

constexpr size_t kHeaderBytes = 10;
constexpr uint32_t kSyncsafeMax = (1u << 28) - 1;

constexpr uint8_t kFlagUnsynchronised = 0x80;
constexpr uint8_t kFlagExtendedHeader = 0x40;
constexpr uint8_t kFlagFooter = 0x10;

constexpr uint8_t kLatin1 = 0;
constexpr uint8_t kUtf16 = 1;
constexpr uint8_t kUtf16BigEndian = 2;
constexpr uint8_t kUtf8 = 3;

void PutSyncsafe(uint8_t* out, uint32_t value) {
    for (int i = 3; i >= 0; --i) {
        out[i] = static_cast<uint8_t>(value & 0x7f);
        value >>= 7;
    }
}

// Nothing when a byte has its top bit set: that is no syncsafe number.
std::optional<uint32_t> GetSyncsafe(const uint8_t* in) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        if ((in[i] & 0x80) != 0) {
            return std::nullopt;
        }
        value = value << 7 | in[i];
    }
    return value;
}

void AppendFrame(std::vector<uint8_t>& out, const char* id, std::string_view description,
                 std::string_view text, bool withDescription) {
    const size_t size = 1 + (withDescription ? description.size() + 1 : 0) + text.size();
    const size_t at = out.size();
    out.resize(at + 10);
    std::memcpy(out.data() + at, id, 4);
    PutSyncsafe(out.data() + at + 4, static_cast<uint32_t>(std::min<size_t>(size, kSyncsafeMax)));
    out.push_back(kUtf8);
    if (withDescription) {
        out.insert(out.end(), description.begin(), description.end());
        out.push_back(0);
    }
    out.insert(out.end(), text.begin(), text.end());
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3f));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// Decodes one string of `encoding` from the front of `bytes` up to its terminator (or the end)
// and moves `bytes` past the terminator.
std::string DecodeString(uint8_t encoding, std::span<const uint8_t>& bytes) {
    std::string out;
    if (encoding == kLatin1 || encoding == kUtf8) {
        size_t end = 0;
        while (end < bytes.size() && bytes[end] != 0) {
            if (encoding == kLatin1) {
                AppendUtf8(out, bytes[end]);
            } else {
                out += static_cast<char>(bytes[end]);
            }
            ++end;
        }
        bytes = bytes.subspan(std::min(end + 1, bytes.size()));
        return out;
    }
    bool bigEndian = encoding == kUtf16BigEndian;
    size_t i = 0;
    if (encoding == kUtf16 && bytes.size() >= 2) {
        if (bytes[0] == 0xfe && bytes[1] == 0xff) {
            bigEndian = true;
            i = 2;
        } else if (bytes[0] == 0xff && bytes[1] == 0xfe) {
            i = 2;
        }
    }
    const auto unit = [&](size_t at) {
        return bigEndian ? uint32_t{bytes[at]} << 8 | bytes[at + 1]
                         : uint32_t{bytes[at + 1]} << 8 | bytes[at];
    };
    bool terminated = false;
    for (; i + 1 < bytes.size(); i += 2) {
        uint32_t code = unit(i);
        if (code == 0) {
            i += 2;
            terminated = true;
            break;
        }
        if (code >= 0xd800 && code < 0xdc00 && i + 3 < bytes.size()) {
            const uint32_t low = unit(i + 2);
            if (low >= 0xdc00 && low < 0xe000) {
                code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                i += 2;
            }
        }
        AppendUtf8(out, code);
    }
    // An unterminated string runs to the end of the frame, a stray odd byte included: leaving
    // that byte behind would hand the caller the same byte back for ever.
    bytes = bytes.subspan(terminated ? i : bytes.size());
    return out;
}

// The body of a text frame: the encoding byte, then (TXXX) a description and the value;
// several values of one frame are joined with " / ".
std::optional<Id3Text> ReadTextFrame(std::string id, std::span<const uint8_t> body) {
    if (body.empty() || body[0] > kUtf8) {
        return std::nullopt;
    }
    const uint8_t encoding = body[0];
    body = body.subspan(1);
    Id3Text text{std::move(id), {}, {}};
    if (text.id == "TXXX") {
        text.description = DecodeString(encoding, body);
    }
    while (!body.empty()) {
        std::string value = DecodeString(encoding, body);
        if (value.empty() && body.empty()) {
            break;
        }
        text.text += text.text.empty() ? value : " / " + value;
    }
    return text;
}

std::vector<uint8_t> RemoveUnsynchronisation(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == 0xff && i + 1 < bytes.size() && bytes[i + 1] == 0) {
            ++i;
        }
    }
    return out;
}

bool IsFrameId(const uint8_t* id) {
    return std::all_of(id, id + 4,
                       [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

}  // namespace

std::vector<uint8_t> WriteId3v24(const RecordingTags& tags) {
    const size_t textBytes = tags.title.size() + tags.recorded.size() + tags.software.size() +
                             tags.voice.size() + sizeof kVoiceEffectDescription;
    if (textBytes > kSyncsafeMax / 2) {
        return {};
    }
    std::vector<uint8_t> out(kHeaderBytes, 0);
    std::memcpy(out.data(), "ID3", 3);
    out[3] = 4;
    const std::pair<const char*, const std::string*> plain[] = {
        {"TIT2", &tags.title}, {"TDRC", &tags.recorded}, {"TSSE", &tags.software}};
    for (const auto& [id, text] : plain) {
        if (!text->empty()) {
            AppendFrame(out, id, {}, *text, false);
        }
    }
    if (!tags.voice.empty()) {
        AppendFrame(out, "TXXX", kVoiceEffectDescription, tags.voice, true);
    }
    PutSyncsafe(out.data() + 6, static_cast<uint32_t>(out.size() - kHeaderBytes));
    return out;
}

size_t Id3TagBytes(std::span<const uint8_t> file) {
    if (file.size() < kHeaderBytes || std::memcmp(file.data(), "ID3", 3) != 0 || file[3] == 0xff ||
        file[4] == 0xff) {
        return 0;
    }
    const std::optional<uint32_t> size = GetSyncsafe(file.data() + 6);
    if (!size) {
        return 0;
    }
    const bool footer = file[3] >= 4 && (file[5] & kFlagFooter) != 0;
    return kHeaderBytes + *size + (footer ? kHeaderBytes : 0);
}

std::optional<Id3Tag> ReadId3Tag(std::span<const uint8_t> file) {
    const size_t total = Id3TagBytes(file);
    if (total == 0 || (file[3] != 3 && file[3] != 4)) {
        return std::nullopt;
    }
    Id3Tag tag;
    tag.majorVersion = file[3];
    tag.totalBytes = total;
    const uint8_t flags = file[5];
    const bool v24 = tag.majorVersion == 4;
    const uint32_t size = *GetSyncsafe(file.data() + 6);
    std::span<const uint8_t> body = file.subspan(kHeaderBytes);
    body = body.first(std::min<size_t>(body.size(), size));
    // Version 2.3 unsynchronises the whole tag; 2.4 marks it frame by frame.
    std::vector<uint8_t> resynchronised;
    if (!v24 && (flags & kFlagUnsynchronised) != 0) {
        resynchronised = RemoveUnsynchronisation(body);
        body = resynchronised;
    }
    if ((flags & kFlagExtendedHeader) != 0) {
        if (body.size() < 4) {
            return tag;
        }
        const std::optional<uint32_t> extended =
            v24 ? GetSyncsafe(body.data())
                : std::optional<uint32_t>(GetBigEndian32(body.data()) + 4);
        if (!extended || *extended > body.size()) {
            return tag;
        }
        body = body.subspan(*extended);
    }
    while (body.size() >= kHeaderBytes && IsFrameId(body.data())) {
        const std::optional<uint32_t> frameSize =
            v24 ? GetSyncsafe(body.data() + 4)
                : std::optional<uint32_t>(GetBigEndian32(body.data() + 4));
        if (!frameSize || *frameSize > body.size() - kHeaderBytes) {
            break;
        }
        std::string id(reinterpret_cast<const char*>(body.data()), 4);
        const uint8_t format = body[9];
        std::span<const uint8_t> data = body.subspan(kHeaderBytes, *frameSize);
        body = body.subspan(kHeaderBytes + *frameSize);
        // Compressed or encrypted frames are not read.
        if ((v24 ? (format & 0x0c) != 0 : (format & 0xc0) != 0) || id[0] != 'T') {
            continue;
        }
        std::vector<uint8_t> frameBytes;
        if (v24 && (format & 0x01) != 0) {  // data length indicator
            if (data.size() < 4) {
                continue;
            }
            data = data.subspan(4);
        }
        if (v24 && ((format & 0x02) != 0 || (flags & kFlagUnsynchronised) != 0)) {
            frameBytes = RemoveUnsynchronisation(data);
            data = frameBytes;
        }
        if (std::optional<Id3Text> text = ReadTextFrame(std::move(id), data)) {
            tag.texts.push_back(std::move(*text));
        }
    }
    return tag;
}

std::string FindId3Text(const Id3Tag& tag, std::string_view id, std::string_view description) {
    for (const Id3Text& text : tag.texts) {
        if (text.id == id && (id != "TXXX" || text.description == description)) {
            return text.text;
        }
    }
    return {};
}

std::string FormatVoiceRecipe(std::string_view effectName, const VoiceParams& params) {
    std::string out(effectName.empty() ? "none" : effectName);
    for (const auto& [name, value] : params) {
        out += "; " + name + "=" + std::to_string(value);
    }
    return out;
}

bool ParseVoiceRecipe(std::string_view recipe, std::string* effectName, VoiceParams* params) {
    const auto trim = [](std::string_view s) {
        while (!s.empty() && s.front() == ' ') {
            s.remove_prefix(1);
        }
        while (!s.empty() && s.back() == ' ') {
            s.remove_suffix(1);
        }
        return s;
    };
    VoiceParams parsed;
    size_t end = recipe.find(';');
    const std::string_view name = trim(recipe.substr(0, end));
    if (name.empty() || name.find('=') != std::string_view::npos) {
        return false;
    }
    while (end != std::string_view::npos) {
        recipe.remove_prefix(end + 1);
        end = recipe.find(';');
        const std::string_view item = trim(recipe.substr(0, end));
        const size_t eq = item.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            return false;
        }
        const std::string_view number = item.substr(eq + 1);
        int32_t value = 0;
        const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        if (ec != std::errc() || ptr != number.data() + number.size()) {
            return false;
        }
        parsed.emplace_back(std::string(trim(item.substr(0, eq))), value);
    }
    *effectName = std::string(name);
    *params = std::move(parsed);
    return true;
}

}  // namespace qm
