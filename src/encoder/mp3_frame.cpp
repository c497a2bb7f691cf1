#include "encoder/mp3_frame.h"

#include <algorithm>
#include <cstring>

#include "encoder/big_endian.h"

namespace qm {

namespace {

// Layer III bit rates by index; index 0 is free format, which no fixed frame grid allows.
constexpr std::array<uint16_t, 15> kMpeg1Kbps = {0,   32,  40,  48,  56,  64,  80, 96,
                                                 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<uint16_t, 15> kMpeg2Kbps = {0,  8,  16, 24,  32,  40,  48, 56,
                                                 64, 80, 96, 112, 128, 144, 160};
constexpr std::array<std::array<uint32_t, 3>, 3> kRatesHz = {{
    {44100, 48000, 32000},
    {22050, 24000, 16000},
    {11025, 12000, 8000},
}};

const std::array<uint16_t, 15>& KbpsTable(MpegVersion version) {
    return version == MpegVersion::kMpeg1 ? kMpeg1Kbps : kMpeg2Kbps;
}

size_t VersionRow(MpegVersion version) {
    return static_cast<size_t>(version);
}

constexpr uint32_t kTagFrames = 0x1;
constexpr uint32_t kTagBytes = 0x2;
constexpr uint32_t kTagToc = 0x4;
constexpr uint32_t kTagQuality = 0x8;

// Samples a Layer III decoder's filter banks hold back; the encoder's delay excludes them.
constexpr uint32_t kDecoderDelay = 529;
constexpr uint32_t kGaplessFieldMax = 4095;
constexpr size_t kLameExtensionBytes = 36;
constexpr size_t kEncoderChars = 9;

// LAME extension: where each field sits from the extension's start.
constexpr size_t kExtMethod = 9;
constexpr size_t kExtBitrate = 20;
constexpr size_t kExtGapless = 21;
constexpr size_t kExtMisc = 24;
constexpr size_t kExtMusicLength = 28;
constexpr size_t kExtMusicCrc = 32;
constexpr size_t kExtTagCrc = 34;
// Revision 0, method 1: constant bit rate.
constexpr uint8_t kCbrMethod = 0x01;

// The extension's source-rate (2 bits) and stereo-mode (3 bits) fields.
uint8_t MiscFieldFor(const Mp3FrameHeader& header) {
    const uint32_t rate = header.SampleRateHz();
    const uint8_t source = rate < 44100 ? 0 : rate == 44100 ? 1 : 2;
    const uint8_t stereo = header.channelMode == 3 ? 0 : header.channelMode == 1 ? 3 : 1;
    return static_cast<uint8_t>(source << 6 | stereo << 2);
}

}  // namespace

uint32_t Mp3FrameHeader::BitrateKbps() const {
    return bitrateIndex < 15 ? KbpsTable(version)[bitrateIndex] : 0;
}

uint32_t Mp3FrameHeader::SampleRateHz() const {
    return sampleRateIndex < 3 ? kRatesHz[VersionRow(version)][sampleRateIndex] : 0;
}

uint32_t Mp3FrameHeader::FrameBytes() const {
    const uint32_t rate = SampleRateHz();
    if (rate == 0) {
        return 0;
    }
    // Bytes per frame = samples per frame / 8 bits * bit rate / sample rate.
    const uint32_t bytesPerKbps = version == MpegVersion::kMpeg1 ? 144000 : 72000;
    return bytesPerKbps * BitrateKbps() / rate + (padded ? 1 : 0);
}

uint32_t Mp3FrameHeader::SideInfoBytes() const {
    const bool mono = channelMode == 3;
    const uint32_t side = version == MpegVersion::kMpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return side + (crcProtected ? 2 : 0);
}

std::optional<Mp3FrameHeader> ParseMp3FrameHeader(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4) {
        return std::nullopt;
    }
    const uint32_t word = GetBigEndian32(bytes.data());
    if ((word >> 21) != 0x7ff) {
        return std::nullopt;
    }
    Mp3FrameHeader header;
    switch ((word >> 19) & 3) {
        case 0:
            header.version = MpegVersion::kMpeg25;
            break;
        case 2:
            header.version = MpegVersion::kMpeg2;
            break;
        case 3:
            header.version = MpegVersion::kMpeg1;
            break;
        default:
            return std::nullopt;
    }
    if (((word >> 17) & 3) != 1) {  // 01 is Layer III
        return std::nullopt;
    }
    header.crcProtected = ((word >> 16) & 1) == 0;
    header.bitrateIndex = static_cast<uint8_t>((word >> 12) & 0xf);
    header.sampleRateIndex = static_cast<uint8_t>((word >> 10) & 3);
    header.padded = ((word >> 9) & 1) != 0;
    header.channelMode = static_cast<uint8_t>((word >> 6) & 3);
    if (header.bitrateIndex == 0 || header.bitrateIndex == 15 || header.sampleRateIndex == 3 ||
        (word & 3) == 2) {  // emphasis 10 is reserved
        return std::nullopt;
    }
    return header;
}

std::array<uint8_t, 4> EncodeMp3FrameHeader(const Mp3FrameHeader& header) {
    uint32_t versionBits = 3;
    if (header.version == MpegVersion::kMpeg2) {
        versionBits = 2;
    } else if (header.version == MpegVersion::kMpeg25) {
        versionBits = 0;
    }
    const uint32_t word =
        (0x7ffu << 21) | (versionBits << 19) | (1u << 17) | (header.crcProtected ? 0u : 1u) << 16 |
        uint32_t{header.bitrateIndex & 0xfu} << 12 | uint32_t{header.sampleRateIndex & 3u} << 10 |
        (header.padded ? 1u : 0u) << 9 | uint32_t{header.channelMode & 3u} << 6;
    std::array<uint8_t, 4> out{};
    PutBigEndian32(out.data(), word);
    return out;
}

bool IsLayer3SampleRate(uint32_t sampleRateHz) {
    for (const auto& row : kRatesHz) {
        if (std::find(row.begin(), row.end(), sampleRateHz) != row.end()) {
            return true;
        }
    }
    return false;
}

std::optional<Mp3FrameHeader> MakeLayer3Header(uint32_t sampleRateHz, uint16_t channels,
                                               uint32_t bitrateKbps) {
    if (channels != 1 && channels != 2) {
        return std::nullopt;
    }
    for (size_t row = 0; row < kRatesHz.size(); ++row) {
        for (size_t index = 0; index < kRatesHz[row].size(); ++index) {
            if (kRatesHz[row][index] != sampleRateHz) {
                continue;
            }
            Mp3FrameHeader header;
            header.version = static_cast<MpegVersion>(row);
            header.sampleRateIndex = static_cast<uint8_t>(index);
            header.channelMode = channels == 1 ? 3 : 1;
            const auto& kbps = KbpsTable(header.version);
            for (size_t b = 1; b < kbps.size(); ++b) {
                if (kbps[b] == bitrateKbps) {
                    header.bitrateIndex = static_cast<uint8_t>(b);
                    return header;
                }
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool Mp3FrameCounter::Feed(std::span<const uint8_t> bytes) {
    size_t i = 0;
    while (i < bytes.size() && inSync_) {
        const uint64_t position = bytes_ + i;
        if (collected_ == 0 && position < nextHeaderAt_) {
            i +=
                static_cast<size_t>(std::min<uint64_t>(nextHeaderAt_ - position, bytes.size() - i));
            continue;
        }
        header_[collected_++] = bytes[i++];
        if (collected_ < header_.size()) {
            continue;
        }
        collected_ = 0;
        const std::optional<Mp3FrameHeader> header = ParseMp3FrameHeader(header_);
        const bool sameStream =
            header && (!first_ || (header->version == first_->version &&
                                   header->sampleRateIndex == first_->sampleRateIndex));
        if (!sameStream || header->FrameBytes() < 4) {
            inSync_ = false;
            break;
        }
        if (!first_) {
            first_ = header;
        }
        ++frames_;
        nextHeaderAt_ += header->FrameBytes();
    }
    bytes_ += bytes.size();
    return inSync_;
}

std::optional<Mp3FrameHeader> InfoFrameHeaderFor(const Mp3FrameHeader& stream) {
    Mp3FrameHeader header = stream;
    header.padded = false;
    header.crcProtected = false;
    const auto& kbps = KbpsTable(header.version);
    for (size_t b = std::max<size_t>(stream.bitrateIndex, 1); b < kbps.size(); ++b) {
        header.bitrateIndex = static_cast<uint8_t>(b);
        if (header.FrameBytes() >= 4 + header.SideInfoBytes() + kInfoTagBytes) {
            return header;
        }
    }
    return std::nullopt;
}

size_t WriteInfoFrame(const Mp3FrameHeader& stream, const Mp3InfoFields& fields,
                      std::span<uint8_t> out) {
    const std::optional<Mp3FrameHeader> header = InfoFrameHeaderFor(stream);
    if (!header || out.size() < header->FrameBytes()) {
        return 0;
    }
    const size_t frameBytes = header->FrameBytes();
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(frameBytes), uint8_t{0});
    const std::array<uint8_t, 4> word = EncodeMp3FrameHeader(*header);
    std::copy(word.begin(), word.end(), out.begin());
    uint8_t* const tag = out.data() + 4 + header->SideInfoBytes();
    std::memcpy(tag, "Info", 4);
    uint8_t* field = tag + 8;
    if (fields.counts) {
        PutBigEndian32(tag + 4, kTagFrames | kTagBytes | kTagToc | kTagQuality);
        PutBigEndian32(field, fields.counts->audioFrames);
        PutBigEndian32(field + 4, fields.counts->totalBytes);
        field += 8;
        // Constant bit rate: byte position grows linearly with time, so entry i is i% of 256.
        for (int i = 0; i < 100; ++i) {
            field[i] = static_cast<uint8_t>(i * 256 / 100);
        }
        field += 100;
    } else {
        PutBigEndian32(tag + 4, kTagQuality);
    }
    field += 4;  // quality word: 0, no VBR quality for a constant bit rate

    uint8_t* const ext = field;
    const size_t nameChars = std::min(std::strlen(fields.encoder), kEncoderChars);
    std::memcpy(ext, fields.encoder, nameChars);
    ext[kExtMethod] = kCbrMethod;
    ext[kExtBitrate] = static_cast<uint8_t>(std::min<uint32_t>(stream.BitrateKbps(), 255));
    const uint32_t delay = std::min<uint32_t>(fields.gapless.delay, kGaplessFieldMax);
    const uint32_t padding = std::min<uint32_t>(fields.gapless.padding, kGaplessFieldMax);
    ext[kExtGapless] = static_cast<uint8_t>(delay >> 4);
    ext[kExtGapless + 1] = static_cast<uint8_t>((delay & 0xf) << 4 | padding >> 8);
    ext[kExtGapless + 2] = static_cast<uint8_t>(padding);
    ext[kExtMisc] = MiscFieldFor(stream);
    if (fields.counts) {
        PutBigEndian32(ext + kExtMusicLength, fields.counts->totalBytes);
        PutBigEndian16(ext + kExtMusicCrc, fields.counts->musicCrc);
    }
    // The tag's own CRC covers the frame from its first byte up to the CRC field.
    const size_t crcAt = static_cast<size_t>(ext + kExtTagCrc - out.data());
    PutBigEndian16(ext + kExtTagCrc, Mp3TagCrc(out.first(crcAt)));
    return frameBytes;
}

std::optional<Mp3InfoTag> ReadInfoTag(std::span<const uint8_t> frame) {
    const std::optional<Mp3FrameHeader> header = ParseMp3FrameHeader(frame);
    if (!header) {
        return std::nullopt;
    }
    const size_t at = 4 + header->SideInfoBytes();
    const size_t limit = std::min<size_t>(frame.size(), header->FrameBytes());
    if (limit < at + 8) {
        return std::nullopt;
    }
    const uint8_t* tag = frame.data() + at;
    Mp3InfoTag info;
    if (std::memcmp(tag, "Info", 4) == 0) {
        info.cbr = true;
    } else if (std::memcmp(tag, "Xing", 4) == 0) {
        info.cbr = false;
    } else {
        return std::nullopt;
    }
    const uint32_t flags = GetBigEndian32(tag + 4);
    size_t field = at + 8;
    if ((flags & kTagFrames) != 0) {
        if (limit < field + 4) {
            return std::nullopt;
        }
        info.frames = GetBigEndian32(frame.data() + field);
        field += 4;
    }
    if ((flags & kTagBytes) != 0) {
        if (limit < field + 4) {
            return std::nullopt;
        }
        info.bytes = GetBigEndian32(frame.data() + field);
        field += 4;
    }
    if ((flags & kTagToc) != 0) {
        if (limit < field + 100) {
            return std::nullopt;
        }
        info.hasToc = true;
        field += 100;
    }
    if ((flags & kTagQuality) != 0) {
        field += 4;
    }
    if (limit < field + kLameExtensionBytes) {
        return info;
    }
    const uint8_t* ext = frame.data() + field;
    for (size_t i = 0; i < kEncoderChars && ext[i] >= 0x20 && ext[i] < 0x7f; ++i) {
        info.encoder[i] = static_cast<char>(ext[i]);
    }
    // An encoder name of printable characters marks an extension; zeros mean none was written.
    if (info.encoder[0] == '\0') {
        return info;
    }
    info.gapless =
        Mp3Gapless{static_cast<uint16_t>(ext[kExtGapless] << 4 | ext[kExtGapless + 1] >> 4),
                   static_cast<uint16_t>((ext[kExtGapless + 1] & 0xf) << 8 | ext[kExtGapless + 2])};
    if (const uint32_t music = GetBigEndian32(ext + kExtMusicLength); music != 0) {
        info.musicBytes = music;
    }
    info.musicCrc = GetBigEndian16(ext + kExtMusicCrc);
    const size_t crcAt = field + kExtTagCrc;
    info.tagCrcMatches = Mp3TagCrc(frame.first(crcAt)) == GetBigEndian16(frame.data() + crcAt);
    return info;
}

uint16_t Mp3TagCrc(std::span<const uint8_t> bytes, uint16_t crc) {
    static constexpr std::array<uint16_t, 256> kTable = [] {
        std::array<uint16_t, 256> table{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit) {
                c = (c & 1) != 0 ? (c >> 1) ^ 0xA001 : c >> 1;
            }
            table[i] = static_cast<uint16_t>(c);
        }
        return table;
    }();
    for (const uint8_t byte : bytes) {
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xff]);
    }
    return crc;
}

Mp3Gapless GaplessFor(uint64_t audioFrames, uint32_t samplesPerFrame, uint32_t delay,
                      std::optional<uint64_t> samplesTaken, bool flushed) {
    const uint64_t total = audioFrames * samplesPerFrame;
    const uint64_t start = std::min<uint64_t>({delay, kGaplessFieldMax, total});
    const uint64_t available = total - start;
    // Unflushed, the last frame's second half still waits for the next frame's overlap.
    uint64_t music = flushed ? available : available - std::min<uint64_t>(available, kDecoderDelay);
    if (samplesTaken) {
        music = std::min(music, *samplesTaken);
    }
    const uint64_t padding = std::min<uint64_t>(available - music, kGaplessFieldMax);
    return {static_cast<uint16_t>(start), static_cast<uint16_t>(padding)};
}

uint64_t DecodedSamples(uint64_t audioFrames, uint32_t samplesPerFrame, const Mp3Gapless& gapless) {
    const uint64_t total = audioFrames * samplesPerFrame;
    const uint64_t trimmed = uint64_t{gapless.delay} + gapless.padding;
    return total > trimmed ? total - trimmed : 0;
}

}  // namespace qm
