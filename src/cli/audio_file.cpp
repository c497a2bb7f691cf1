#include "cli/audio_file.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
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

// Puts the recording tags in front of the MP3 stream libsndfile wrote to `temp`.
bool PrependId3Tag(const std::string& temp, const std::string& path, const std::string& voice) {
    std::vector<uint8_t> stream;
    {
        std::ifstream in(temp, std::ios::binary);
        stream.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad())
            return false;
    }
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
    const std::vector<uint8_t> tag = WriteId3v24(tags);
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(tag.data()), static_cast<std::streamsize>(tag.size()));
    out.write(reinterpret_cast<const char*>(stream.data()),
              static_cast<std::streamsize>(stream.size()));
    out.close();
    return !out.fail();
}

}  // namespace

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
    result.format.formatTag = bits == 32 ? 3 : 1;
    result.format.channels = static_cast<uint16_t>(channels);
    result.format.samplesPerSec = static_cast<uint32_t>(info.samplerate);
    result.format.bitsPerSample = bits;
    result.format.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    result.format.avgBytesPerSec = result.format.samplesPerSec * result.format.blockAlign;

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
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (file_ == nullptr) {
        ::close(fd);
        std::remove(temp.c_str());
        error = "cannot write '" + path + "': " + sf_strerror(nullptr);
        return false;
    }
    // Floats beyond full scale clip in whole-number files instead of wrapping round.
    sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    fd_ = fd;
    temp_ = temp;
    path_ = path;
    bits_ = format.bitsPerSample;
    channels_ = format.channels;
    return true;
}

bool AudioFileWriter::Write(std::span<const uint8_t> pcm, std::string& error) {
    if (file_ == nullptr) {
        error = "no file is open";
        return false;
    }
    const size_t bytesPerSample = bits_ / 8;
    const uint8_t* in = pcm.data();
    // Whole frames per call: the library refuses part of one.
    const size_t chunk = kChunkSamples / channels_ * channels_;
    for (size_t done = 0; done < pcm.size() / bytesPerSample;) {
        const size_t samples = std::min(chunk, pcm.size() / bytesPerSample - done);
        sf_count_t written = 0;
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
        if (written != static_cast<sf_count_t>(samples)) {
            error = "cannot write '" + path_ + "': " + sf_strerror(file_);
            return false;
        }
        done += samples;
    }
    return true;
}

uint64_t AudioFileWriter::FileBytes() const {
    struct stat st {};
    return file_ != nullptr && fstat(fd_, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool AudioFileWriter::Finish(std::string& error, const std::string& voiceRecipe) {
    if (file_ == nullptr) {
        error = "no file is open";
        return false;
    }
    // Closing flushes the encoder; only then is the file complete.
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed == 0 && LowerExtension(path_) == "mp3" &&
        !PrependId3Tag(temp_, path_, voiceRecipe)) {
        error = "cannot write '" + path_ + "': its tags could not be written";
        Abandon();
        return false;
    }
    if (closed != 0 || std::rename(temp_.c_str(), path_.c_str()) != 0) {
        error = "cannot write '" + path_ +
                "': " + (closed != 0 ? "the file could not be completed" : std::strerror(errno));
        Abandon();
        return false;
    }
    temp_.clear();
    return true;
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
    audio.format.bitsPerSample = bits;
    audio.format.formatTag = bits == 32 ? 3 : 1;
    audio.format.blockAlign = static_cast<uint16_t>(audio.format.channels * bits / 8);
    audio.format.avgBytesPerSec = audio.format.samplesPerSec * audio.format.blockAlign;
    return true;
}

}  // namespace qm
