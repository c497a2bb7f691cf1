#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "effects/wave_format.h"

// libsndfile's file handle, declared by its own header in the global namespace.
struct sf_private_tag;

namespace qm {

// The file name's extension in lower case, "" when it has none.
std::string LowerExtension(const std::string& path);

// How a file stores its samples: 8, 16, 24 or 32-bit whole numbers, or floats (32 or 64 bits).
struct SampleWidth {
    uint16_t bits = 16;
    bool isFloat = false;
    bool operator==(const SampleWidth&) const = default;
};

// Parses "8", "16", "24", "32" (whole numbers) or "float".
bool ParseSampleWidth(const std::string& text, SampleWidth& width);

// A whole audio file as interleaved little-endian PCM in one of the widths the effects take:
// unsigned 8-bit, signed 16-bit or 32-bit float. 8 and 16-bit files keep their width, deeper
// whole numbers and floats read as float (which holds 24 bits exactly), compressed inputs
// decode to 16-bit. `stored` is the file's own width, the one an output keeps by default
// (none: the data's own).
struct AudioData {
    WaveFormat format;
    std::vector<uint8_t> pcm;
    std::optional<SampleWidth> stored;
};

// Converts the samples between the effects' widths (8, 16, 32 float): 8-bit (b - 128) * 256,
// float * 32768 rounded and clipped, and back. False for another target width.
bool ConvertPcm(AudioData& audio, uint16_t bits);

// Reads any file libsndfile opens (WAV, FLAC, OGG, MP3, ...). On failure returns false and
// sets `error` to one line naming the problem.
bool ReadAudioFile(const std::string& path, AudioData& audio, std::string& error);

// True when `path` names an output type WriteAudioFile can produce; otherwise sets `error`.
// Lets a command refuse a bad output before doing any work.
bool IsWritableAudioPath(const std::string& path, std::string& error);

// Writes WAV, FLAC or MP3, chosen by the file's extension, at audio.stored's width where the
// type allows. The file appears only when it is
// complete: the data goes to a temporary file beside it, which is renamed at the end and
// removed on any failure. An MP3 starts with an ID3v2.4 tag: the title from the file's name,
// the time of writing, this program as encoder and, when given, the voice recipe.
bool WriteAudioFile(const std::string& path, const AudioData& audio, std::string& error,
                    const std::string& voiceRecipe = {});

// Why a file stopped taking audio before its end.
enum class WriteFault {
    kNone,
    kDiskFull,      // the disk, or the file-size limit, cannot take more and still finish it
    kFolderGone,    // the file's folder was removed
    kFolderLocked,  // the file's folder can no longer be written
    kError,         // the disk refused a write for another reason
};

// Writes one file piece by piece, as WriteAudioFile does in one go: the data goes to a
// temporary file beside `path`, which Finish renames into place once the encoder is flushed.
// Until then the temporary file is removed by Abandon or the destructor. Not thread-safe;
// Write may block on the disk.
//
// What was written is never lost to a full disk or a vanished folder: each Write first makes
// sure the disk keeps the room that finishing the file needs (the encoder's last frames, the
// header, the tags), and refuses once it would not, so Finish can still complete the file with
// everything written before.
class AudioFileWriter {
  public:
    AudioFileWriter() = default;
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    // Refuses (false, `error` set, nothing created) an output type or layout the file type
    // cannot hold, and a folder where no file can be created. The file stores `stored`'s width
    // where its type allows (FLAC keeps at most 24 bits, MP3 none), else the data's own.
    bool Open(const std::string& path, const WaveFormat& format, std::string& error,
              const SampleWidth* stored = nullptr);
    // Appends interleaved PCM of the format given to Open (whole samples). The first write
    // that cannot be made returns false, sets `error` and Fault(), and writes nothing; every
    // later one is refused the same way.
    bool Write(std::span<const uint8_t> pcm, std::string& error);
    // Completes the file with what it holds, after a refused write too, and puts it in place.
    // An MP3 file also gets its ID3 tags, with `voiceRecipe` as the voice that made it. When
    // the folder can no longer take the file, it is kept under the same name in $TMPDIR (or
    // /tmp): KeptPath() says where. False (`error` set) when nothing could be kept.
    bool Finish(std::string& error, const std::string& voiceRecipe = {});
    void Abandon();
    // Bytes of the file on disk so far.
    uint64_t FileBytes() const;
    WriteFault Fault() const { return fault_; }
    const std::string& KeptPath() const { return kept_; }

  private:
    static constexpr size_t kChunkSamples = 4096;
    WriteFault CheckRoom(uint64_t bytes) const;
    bool Refuse(WriteFault fault, std::string& error);
    bool PutInPlace(std::string& error);

    ::sf_private_tag* file_ = nullptr;
    int fd_ = -1;
    uint16_t bits_ = 16;
    uint16_t channels_ = 1;
    uint16_t storedBytes_ = 2;  // per sample in the file, at most
    bool mp3_ = false;
    uint64_t finishRoom_ = 0;
    uint64_t sizeLimit_ = UINT64_MAX;
    WriteFault fault_ = WriteFault::kNone;
    std::string path_;
    std::string folder_;
    std::string temp_;
    std::string kept_;
    short shorts_[kChunkSamples];
    float floats_[kChunkSamples];
};

// One line for a fault, as "the disk is full".
std::string DescribeWriteFault(WriteFault fault, const std::string& path);

// The first channel as 16-bit samples, converted the way the voice effect stage converts:
// 8-bit (b - 128) * 256, float * 32768 truncated and clipped to +-32767. False (with `error`
// set) for a format without channels or of another width.
bool FirstChannel16(const AudioData& audio, std::vector<int16_t>& out, std::string& error);

}  // namespace qm
