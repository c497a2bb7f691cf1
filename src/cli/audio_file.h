#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "effects/wave_format.h"

// A whole audio file as interleaved little-endian PCM in one of the widths the effects take:
// unsigned 8-bit, signed 16-bit or 32-bit float. Compressed inputs decode to 16-bit.
struct AudioData {
    WaveFormat format;
    std::vector<uint8_t> pcm;
};

// Reads any file libsndfile opens (WAV, FLAC, OGG, MP3, ...). On failure returns false and
// sets `error` to one line naming the problem.
bool ReadAudioFile(const std::string& path, AudioData& audio, std::string& error);

// True when `path` names an output type WriteAudioFile can produce; otherwise sets `error`.
// Lets a command refuse a bad output before doing any work.
bool IsWritableAudioPath(const std::string& path, std::string& error);

// Writes WAV, FLAC or MP3, chosen by the file's extension. The file appears only when it is
// complete: the data goes to a temporary file beside it, which is renamed at the end and
// removed on any failure. An MP3 starts with an ID3v2.4 tag: the title from the file's name,
// the time of writing, this program as encoder and, when given, the voice recipe.
bool WriteAudioFile(const std::string& path, const AudioData& audio, std::string& error,
                    const std::string& voiceRecipe = {});

// The first channel as 16-bit samples, converted the way the voice effect stage converts:
// 8-bit (b - 128) * 256, float * 32768 truncated and clipped to +-32767. False (with `error`
// set) for a format without channels or of another width.
bool FirstChannel16(const AudioData& audio, std::vector<int16_t>& out, std::string& error);
