#pragma once

#include <windows.h>

namespace qm {

// Classes served by the encoder library Pravik.dll, and the media subtype of its output.

// "Audio Encoder": PCM in, MPEG audio Layer III frames out.
// {B8D27088-FF5F-4B7C-98DC-0E91A1696286}
inline constexpr CLSID kMp3EncoderClsid = {
    0xb8d27088, 0xff5f, 0x4b7c, {0x98, 0xdc, 0x0e, 0x91, 0xa1, 0x69, 0x62, 0x86}};

// The MP3 file stage: Layer III frames in, the byte stream of an .mp3 file out.
// {5D7A0ACB-5E3C-4C41-A27E-5531A9973260}
inline constexpr CLSID kMp3StreamStageClsid = {
    0x5d7a0acb, 0x5e3c, 0x4c41, {0xa2, 0x7e, 0x55, 0x31, 0xa9, 0x97, 0x32, 0x60}};

// The wave-format-tag subtype of WAVE_FORMAT_MPEGLAYER3 (0x0055), which the platform's
// multiplexers and MP3 decoders know as MEDIASUBTYPE_MP3.
inline constexpr GUID kMediaSubtypeMp3 = {
    0x00000055, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

inline constexpr wchar_t kMp3EncoderName[] = L"Audio Encoder";
inline constexpr wchar_t kMp3StreamStageName[] = L"MP3 File Stream";

}  // namespace qm
