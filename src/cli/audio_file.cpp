#include "cli/audio_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <memory>

#include "encoder/id3_tag.h"

namespace qm {

namespace {

constexpr sf_count_t kChunkFrames = 65536;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

// The file's own width.
SampleWidth StoredWidthOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_S8:
            return {8, false};
        case SF_FORMAT_PCM_24:
            return {24, false};
        case SF_FORMAT_PCM_32:
            return {32, false};
        case SF_FORMAT_FLOAT:
            return {32, true};
        case SF_FORMAT_DOUBLE:
            return {64, true};
        default:
            // 16-bit, and compressed streams (Vorbis, Opus, MPEG, ADPCM, ...).
            return {16, false};
    }
}

// The effects' width a file reads as: 8 and 16 bits as they are, deeper whole numbers and
// floats as float. FLAC's 8-bit reads as 16-bit, as its decoder delivers it.
uint16_t ReadWidthFor(int format) {
    const SampleWidth stored = StoredWidthOf(format);
    if (stored.bits == 8)
        return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC ? 16 : 8;
    return stored.bits == 16 ? 16 : 32;
}

// The subformat that stores `width` in a file of type `ext`, or 0 for MP3.
int SubformatFor(const std::string& ext, SampleWidth width) {
    if (ext == "flac") {
        return width.bits == 8    ? SF_FORMAT_PCM_S8
               : width.bits == 16 ? SF_FORMAT_PCM_16
                                  : SF_FORMAT_PCM_24;
    }
    if (width.isFloat)
        return width.bits == 64 ? SF_FORMAT_DOUBLE : SF_FORMAT_FLOAT;
    switch (width.bits) {
        case 8:
            return SF_FORMAT_PCM_U8;
        case 24:
            return SF_FORMAT_PCM_24;
        case 32:
            return SF_FORMAT_PCM_32;
        default:
            return SF_FORMAT_PCM_16;
    }
}

// Room kept at the start of an MP3 file for its ID3 tag, so that the tag goes in at the end
// without moving the audio (and without needing more disk than the file already has). Until
// then the room holds an empty tag of that size, which decoders skip.
constexpr size_t kTagRoom = 4096;

// An ID3v2.4 tag made exactly `room` bytes long by padding; empty when it does not fit.
std::vector<uint8_t> PadId3Tag(std::vector<uint8_t> tag, size_t room) {
    if (tag.size() < 10 || tag.size() > room)
        return {};
    tag.resize(room, 0);
    const size_t body = room - 10;
    for (int i = 0; i < 4; ++i)
        tag[6 + i] = static_cast<uint8_t>((body >> (7 * (3 - i))) & 0x7F);
    return tag;
}

RecordingTags TagsFor(const std::string& path, const std::string& voice) {
    RecordingTags tags;
    const size_t slash = path.find_last_of('/');
    tags.title = path.substr(slash == std::string::npos ? 0 : slash + 1);
    tags.title.resize(std::min(tags.title.size(), tags.title.find_last_of('.')));
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char recorded[32] = {};
    if (localtime_r(&now, &local) != nullptr)
        std::strftime(recorded, sizeof recorded, "%Y-%m-%dT%H:%M:%S", &local);
    tags.recorded = recorded;
    tags.voice = voice;
    return tags;
}

bool WriteAllAt(int fd, const uint8_t* data, size_t size, off_t at) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Copies the whole of `fd` into a new file at `to` (never over an existing one); a copy cut
// short is removed.
bool CopyFile(int fd, const std::string& to) {
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0)
        return false;
    uint8_t buffer[65536];
    bool ok = true;
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!WriteAllAt(out, buffer, static_cast<size_t>(n), at)) {
            ok = false;
            break;
        }
        at += n;
    }
    ok = ::close(out) == 0 && ok;
    if (!ok)
        std::remove(to.c_str());
    return ok;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

WriteFault FaultOfErrno(int error) {
    switch (error) {
        case ENOSPC:
        case EFBIG:
        case EDQUOT:
            return WriteFault::kDiskFull;
        case EROFS:
        case EACCES:
        case EPERM:
            return WriteFault::kFolderLocked;
        default:
            return WriteFault::kError;
    }
}

}  // namespace

std::string LowerExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool ReadAudioFile(const std::string& path, AudioData& audio, std::string& error) {
    SF_INFO info{};
    SndfileHandle file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file) {
        error = "cannot read '" + path + "': " + sf_strerror(nullptr);
        return false;
    }
    const uint16_t bits = ReadWidthFor(info.format);
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1 ||
        static_cast<uint32_t>(info.samplerate) > kMaxSampleRateHz) {
        error = "'" + path + "' has an unsupported layout (" + std::to_string(info.channels) +
                " channels at " + std::to_string(info.samplerate) + " Hz)";
        return false;
    }
    const auto channels = static_cast<size_t>(info.channels);
    AudioData result;
    result.stored = StoredWidthOf(info.format);
    result.format = InterleavedWaveFormat(static_cast<uint16_t>(channels),
                                          static_cast<uint32_t>(info.samplerate), bits);

    const size_t bytesPerSample = bits / 8;
    std::vector<short> shorts(static_cast<size_t>(kChunkFrames) * channels);
    std::vector<float> floats(bits == 32 ? shorts.size() : 0);
    for (;;) {
        const sf_count_t frames = bits == 32
                                      ? sf_readf_float(file.get(), floats.data(), kChunkFrames)
                                      : sf_readf_short(file.get(), shorts.data(), kChunkFrames);
        if (frames <= 0)
            break;
        const size_t samples = static_cast<size_t>(frames) * channels;
        const size_t at = result.pcm.size();
        result.pcm.resize(at + samples * bytesPerSample);
        uint8_t* out = result.pcm.data() + at;
        for (size_t i = 0; i < samples; ++i) {
            if (bits == 8) {
                out[i] = static_cast<uint8_t>((shorts[i] >> 8) + 128);
            } else if (bits == 16) {
                const auto u = static_cast<uint16_t>(shorts[i]);
                out[2 * i] = static_cast<uint8_t>(u & 0xFF);
                out[2 * i + 1] = static_cast<uint8_t>(u >> 8);
            } else {
                std::memcpy(out + 4 * i, &floats[i], 4);
            }
        }
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = "cannot decode '" + path + "': " + sf_strerror(file.get());
        return false;
    }
    audio = std::move(result);
    return true;
}

bool IsWritableAudioPath(const std::string& path, std::string& error) {
    const std::string ext = LowerExtension(path);
    if (ext == "wav" || ext == "flac" || ext == "mp3")
        return true;
    error = "cannot write '" + path + "': the output must end in .wav, .flac or .mp3";
    return false;
}

AudioFileWriter::~AudioFileWriter() {
    Abandon();
}

void AudioFileWriter::Abandon() {
    if (file_ != nullptr) {
        sf_close(file_);
        file_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temp_.empty()) {
        std::remove(temp_.c_str());
        temp_.clear();
    }
}

bool AudioFileWriter::Open(const std::string& path, const WaveFormat& format, std::string& error,
                           const SampleWidth* stored) {
    Abandon();
    const std::string ext = LowerExtension(path);
    SF_INFO info{};
    info.channels = format.channels;
    info.samplerate = static_cast<int>(format.samplesPerSec);
    const SampleWidth own{format.bitsPerSample, format.bitsPerSample == 32};
    const SampleWidth width = stored != nullptr ? *stored : own;
    if (ext == "wav") {
        info.format = SF_FORMAT_WAV | SubformatFor(ext, width);
    } else if (ext == "flac") {
        info.format = SF_FORMAT_FLAC | SubformatFor(ext, width);
    } else if (ext == "mp3") {
        // MPEG audio knows only these rates; asking the encoder for another fails late, after
        // it has taken memory it never gives back.
        static const uint32_t kMpegRates[] = {8000,  11025, 12000, 16000, 22050,
                                              24000, 32000, 44100, 48000};
        if (std::find(std::begin(kMpegRates), std::end(kMpegRates), format.samplesPerSec) ==
            std::end(kMpegRates)) {
            error = "cannot write '" + path + "': MP3 does not carry " +
                    std::to_string(format.samplesPerSec) + " Hz (use .wav or .flac)";
            return false;
        }
        if (format.channels > 2) {
            error = "cannot write '" + path + "': MP3 carries at most two channels";
            return false;
        }
        info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    } else {
        return IsWritableAudioPath(path, error);
    }
    if (format.bitsPerSample != 8 && format.bitsPerSample != 16 && format.bitsPerSample != 32) {
        error = "cannot write " + std::to_string(format.bitsPerSample) + "-bit samples";
        return false;
    }

    std::string temp = path + ".partXXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot create a file beside '" + path + "': " + std::strerror(errno);
        return false;
    }
    fchmod(fd, 0644);
    fd_ = fd;
    temp_ = temp;
    mp3_ = ext == "mp3";
    if (mp3_) {
        // The encoder writes after the tag's room: it takes the descriptor's position as the
        // start of its stream.
        const std::vector<uint8_t> room = PadId3Tag(WriteId3v24({}), kTagRoom);
        if (!WriteAllAt(fd, room.data(), room.size(), 0) || ::lseek(fd, 0, SEEK_END) < 0) {
            error = "cannot write '" + path + "': " + std::strerror(errno);
            Abandon();
            return false;
        }
    }
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (file_ == nullptr) {
        error = "cannot write '" + path + "': " + sf_strerror(nullptr);
        Abandon();
        return false;
    }
    // Floats beyond full scale clip in whole-number files instead of wrapping round.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    path_ = path;
    folder_ = FolderOf(path);
    kept_.clear();
    fault_ = WriteFault::kNone;
    bits_ = format.bitsPerSample;
    channels_ = format.channels;
    storedBytes_ = static_cast<uint16_t>(std::max<int>(2, (width.bits + 7) / 8));
    // Finishing writes the encoder's last block (FLAC's is 4096 frames, MP3's a few frames)
    // and rewrites headers in place.
    finishRoom_ = 16384 + uint64_t{4096} * channels_ * 4;
    struct rlimit limit {};
    sizeLimit_ = getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                     ? static_cast<uint64_t>(limit.rlim_cur)
                     : UINT64_MAX;
    return true;
}

// Whether `bytes` more can go into the file with the room to finish it left over, and the
// folder is still there to take it.
WriteFault AudioFileWriter::CheckRoom(uint64_t bytes) const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return WriteFault::kError;
    // Removed with its folder: the data is still ours, but no longer in any folder.
    if (st.st_nlink == 0)
        return WriteFault::kFolderGone;
    if (::access(folder_.c_str(), W_OK) != 0)
        return errno == ENOENT ? WriteFault::kFolderGone : WriteFault::kFolderLocked;
    const uint64_t need = bytes + finishRoom_;
    if (static_cast<uint64_t>(st.st_size) + need > sizeLimit_)
        return WriteFault::kDiskFull;
    struct statvfs vfs {};
    if (::fstatvfs(fd_, &vfs) == 0) {
        const uint64_t blocks = ::geteuid() == 0 ? vfs.f_bfree : vfs.f_bavail;
        if (blocks * vfs.f_frsize < need)
            return WriteFault::kDiskFull;
    }
    return WriteFault::kNone;
}

bool AudioFileWriter::Refuse(WriteFault fault, std::string& error) {
    fault_ = fault;
    error = "cannot write '" + path_ + "': " + DescribeWriteFault(fault, path_);
    return false;
}

bool AudioFileWriter::Write(std::span<const uint8_t> pcm, std::string& error) {
    if (file_ == nullptr) {
        error = "no file is open";
        return false;
    }
    if (fault_ != WriteFault::kNone)
        return Refuse(fault_, error);
    const size_t bytesPerSample = bits_ / 8;
    const uint8_t* in = pcm.data();
    // Whole frames per call: the library refuses part of one.
    const size_t chunk = kChunkSamples / channels_ * channels_;
    for (size_t done = 0; done < pcm.size() / bytesPerSample;) {
        const size_t samples = std::min(chunk, pcm.size() / bytesPerSample - done);
        // No encoder here makes more bytes than the samples take stored plainly.
        if (const WriteFault fault = CheckRoom(uint64_t{samples} * storedBytes_);
            fault != WriteFault::kNone) {
            return Refuse(fault, error);
        }
        sf_count_t written = 0;
        errno = 0;
        if (bits_ == 32) {
            std::memcpy(floats_, in + 4 * done, samples * 4);
            written = sf_write_float(file_, floats_, static_cast<sf_count_t>(samples));
        } else {
            for (size_t i = 0; i < samples; ++i) {
                const size_t k = done + i;
                shorts_[i] = bits_ == 8 ? static_cast<short>((in[k] - 128) * 256)
                                        : static_cast<short>(static_cast<uint16_t>(
                                              in[2 * k] | (in[2 * k + 1] << 8)));
            }
            written = sf_write_short(file_, shorts_, static_cast<sf_count_t>(samples));
        }
        // The MP3 encoder takes every sample even when the disk refuses its frames; the
        // library still records the refusal.
        if (written != static_cast<sf_count_t>(samples) || sf_error(file_) != SF_ERR_NO_ERROR) {
            const int cause = errno;
            fault_ = FaultOfErrno(cause);
            error = "cannot write '" + path_ + "': " +
                    (fault_ == WriteFault::kError ? std::string(sf_strerror(file_))
                                                  : DescribeWriteFault(fault_, path_));
            return false;
        }
        done += samples;
    }
    return true;
}

uint64_t AudioFileWriter::FileBytes() const {
    struct stat st {};
    return fd_ >= 0 && fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Renames the finished temporary file to its name, or, where its folder can no longer take
// it, copies it out under the same name: back into the folder made again, else into $TMPDIR.
bool AudioFileWriter::PutInPlace(std::string& error) {
    struct stat st {};
    const bool linked = ::fstat(fd_, &st) == 0 && st.st_nlink > 0;
    if (linked && std::rename(temp_.c_str(), path_.c_str()) == 0) {
        temp_.clear();
        kept_ = path_;
        return true;
    }
    const int renameError = errno;
    const size_t slash = path_.find_last_of('/');
    const std::string name = path_.substr(slash == std::string::npos ? 0 : slash + 1);
    const char* tmp = std::getenv("TMPDIR");
    const std::string tmpFolder = tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp";
    const std::string elsewhere = tmpFolder + "/" + name;
    if (!linked)
        ::mkdir(folder_.c_str(), 0755);  // a folder removed under the file: make it again
    // A file of that name already in $TMPDIR is someone else's: the copy gets its own name.
    for (const std::string& to :
         {path_, elsewhere, tmpFolder + "/" + std::to_string(::getpid()) + "-" + name}) {
        if (CopyFile(fd_, to)) {
            kept_ = to;
            if (linked)
                std::remove(temp_.c_str());
            temp_.clear();
            return true;
        }
    }
    error = "cannot write '" + path_ + "': " + std::strerror(linked ? renameError : ENOENT) +
            ", nor a copy in '" + elsewhere + "'";
    return false;
}

bool AudioFileWriter::Finish(std::string& error, const std::string& voiceRecipe) {
    if (file_ == nullptr) {
        error = "no file is open";
        return false;
    }
    // Closing flushes the encoder and completes the header; only then is the file complete.
    // After a refused write it completes what was taken: the room for that was kept.
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0 && fault_ == WriteFault::kNone) {
        error = "cannot write '" + path_ + "': the file could not be completed";
        Abandon();
        return false;
    }
    if (mp3_) {
        // A tag that does not fit its room leaves the empty one: the audio is what matters.
        const std::vector<uint8_t> tag =
            PadId3Tag(WriteId3v24(TagsFor(path_, voiceRecipe)), kTagRoom);
        if (!tag.empty() && !WriteAllAt(fd_, tag.data(), tag.size(), 0) &&
            fault_ == WriteFault::kNone) {
            error = "cannot write '" + path_ + "': its tags could not be written";
            Abandon();
            return false;
        }
    }
    if (!PutInPlace(error)) {
        Abandon();
        return false;
    }
    ::close(fd_);
    fd_ = -1;
    return true;
}

std::string DescribeWriteFault(WriteFault fault, const std::string& path) {
    switch (fault) {
        case WriteFault::kNone:
            return "no fault";
        case WriteFault::kDiskFull:
            return "the disk is full";
        case WriteFault::kFolderGone:
            return "its folder '" + FolderOf(path) + "' was removed";
        case WriteFault::kFolderLocked:
            return "its folder '" + FolderOf(path) + "' can no longer be written";
        case WriteFault::kError:
            break;
    }
    return "the disk refused a write";
}

bool WriteAudioFile(const std::string& path, const AudioData& audio, std::string& error,
                    const std::string& voiceRecipe) {
    AudioFileWriter writer;
    return writer.Open(path, audio.format, error, audio.stored ? &*audio.stored : nullptr) &&
           writer.Write(audio.pcm, error) && writer.Finish(error, voiceRecipe);
}

// The first channel as 16-bit samples, converted the way the voice effect stage converts:
// 8-bit (b - 128) * 256, float * 32768 truncated and clipped to +-32767.
bool FirstChannel16(const AudioData& audio, std::vector<int16_t>& out, std::string& error) {
    const uint16_t channels = audio.format.channels;
    const uint16_t bits = audio.format.bitsPerSample;
    if (channels == 0 || (bits != 8 && bits != 16 && bits != 32)) {
        error = "unsupported sample format";
        return false;
    }
    const size_t frameBytes = static_cast<size_t>(channels) * (bits / 8);
    const size_t frames = audio.pcm.size() / frameBytes;
    out.resize(frames);
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* p = audio.pcm.data() + i * frameBytes;
        if (bits == 8) {
            out[i] = static_cast<int16_t>((static_cast<int>(p[0]) - 128) * 256);
        } else if (bits == 16) {
            int16_t v = 0;
            std::memcpy(&v, p, sizeof v);
            out[i] = v;
        } else {
            float f = 0.0f;
            std::memcpy(&f, p, sizeof f);
            double v = static_cast<double>(f) * 32768.0;
            if (std::isnan(v))
                v = 0.0;
            out[i] = static_cast<int16_t>(v > 32767.0 ? 32767.0 : v < -32767.0 ? -32767.0 : v);
        }
    }
    return true;
}

bool ParseSampleWidth(const std::string& text, SampleWidth& width) {
    if (text == "float") {
        width = {32, true};
        return true;
    }
    for (uint16_t bits : {8, 16, 24, 32}) {
        if (text == std::to_string(bits)) {
            width = {bits, false};
            return true;
        }
    }
    return false;
}

bool ConvertPcm(AudioData& audio, uint16_t bits) {
    const uint16_t from = audio.format.bitsPerSample;
    if ((bits != 8 && bits != 16 && bits != 32) || (from != 8 && from != 16 && from != 32))
        return false;
    if (from == bits)
        return true;
    const size_t samples = audio.pcm.size() / (from / 8);
    std::vector<uint8_t> out(samples * (bits / 8));
    for (size_t i = 0; i < samples; ++i) {
        // Through a float of full scale 1.0: 16-bit and 8-bit map exactly.
        float v = 0.0f;
        if (from == 8) {
            v = static_cast<float>(audio.pcm[i] - 128) / 128.0f;
        } else if (from == 16) {
            int16_t s = 0;
            std::memcpy(&s, &audio.pcm[2 * i], 2);
            v = static_cast<float>(s) / 32768.0f;
        } else {
            std::memcpy(&v, &audio.pcm[4 * i], 4);
            if (std::isnan(v))
                v = 0.0f;
        }
        if (bits == 32) {
            std::memcpy(&out[4 * i], &v, 4);
        } else if (bits == 16) {
            const auto s =
                static_cast<int16_t>(std::clamp(std::lround(v * 32768.0f), -32768L, 32767L));
            std::memcpy(&out[2 * i], &s, 2);
        } else {
            out[i] = static_cast<uint8_t>(std::clamp(std::lround(v * 128.0f), -128L, 127L) + 128);
        }
    }
    audio.pcm = std::move(out);
    audio.format = InterleavedWaveFormat(audio.format.channels, audio.format.samplesPerSec, bits);
    return true;
}

}  // namespace qm
