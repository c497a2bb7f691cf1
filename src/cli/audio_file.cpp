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

// The effects' width for a file's stored samples, or 0 when that width is not one of them.
uint16_t WidthFor(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_S8:
            return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC ? 16 : 8;
        case SF_FORMAT_PCM_16:
            return 16;
        case SF_FORMAT_FLOAT:
            return 32;
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_DOUBLE:
            // FLAC stores whole numbers of any depth; decoding to 16-bit loses nothing the
            // effects would keep. Uncompressed files of these widths are refused.
            return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC ? 16 : 0;
        default:
            // Compressed streams (Vorbis, Opus, MPEG, ADPCM, ...) decode to 16-bit.
            return 16;
    }
}

const char* WidthName(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_24:
            return "24-bit integer";
        case SF_FORMAT_PCM_32:
            return "32-bit integer";
        case SF_FORMAT_DOUBLE:
            return "64-bit float";
        default:
            return "this";
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
    const uint16_t bits = WidthFor(info.format);
    if (bits == 0) {
        error = "'" + path + "' has " + WidthName(info.format) +
                " samples; supported widths are 8-bit, 16-bit and 32-bit float";
        return false;
    }
    if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1 ||
        static_cast<uint32_t>(info.samplerate) > kMaxSampleRateHz) {
        error = "'" + path + "' has an unsupported layout (" + std::to_string(info.channels) +
                " channels at " + std::to_string(info.samplerate) + " Hz)";
        return false;
    }
    const auto channels = static_cast<size_t>(info.channels);
    AudioData result;
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

bool WriteAudioFile(const std::string& path, const AudioData& audio, std::string& error,
                    const std::string& voiceRecipe) {
    const WaveFormat& format = audio.format;
    const std::string ext = LowerExtension(path);
    SF_INFO info{};
    info.channels = format.channels;
    info.samplerate = static_cast<int>(format.samplesPerSec);
    if (ext == "wav") {
        info.format = SF_FORMAT_WAV | (format.bitsPerSample == 8    ? SF_FORMAT_PCM_U8
                                       : format.bitsPerSample == 32 ? SF_FORMAT_FLOAT
                                                                    : SF_FORMAT_PCM_16);
    } else if (ext == "flac") {
        info.format =
            SF_FORMAT_FLAC | (format.bitsPerSample == 8 ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
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
    const auto fail = [&](const std::string& why) {
        std::remove(temp.c_str());
        error = "cannot write '" + path + "': " + why;
        return false;
    };
    fchmod(fd, 0644);
    SndfileHandle file(sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE));
    if (!file) {
        ::close(fd);
        return fail(sf_strerror(nullptr));
    }
    const size_t bytesPerSample = format.bitsPerSample / 8;
    const size_t samples = audio.pcm.size() / bytesPerSample;
    const uint8_t* in = audio.pcm.data();
    sf_count_t written = 0;
    if (format.bitsPerSample == 32) {
        std::vector<float> floats(samples);
        std::memcpy(floats.data(), in, samples * 4);
        written = sf_write_float(file.get(), floats.data(), static_cast<sf_count_t>(samples));
    } else {
        std::vector<short> shorts(samples);
        for (size_t i = 0; i < samples; ++i) {
            shorts[i] =
                format.bitsPerSample == 8
                    ? static_cast<short>((in[i] - 128) * 256)
                    : static_cast<short>(static_cast<uint16_t>(in[2 * i] | (in[2 * i + 1] << 8)));
        }
        written = sf_write_short(file.get(), shorts.data(), static_cast<sf_count_t>(samples));
    }
    if (written != static_cast<sf_count_t>(samples))
        return fail(sf_strerror(file.get()));
    // Closing flushes the encoder; only then is the file complete.
    if (sf_close(file.release()) != 0)
        return fail("the file could not be completed");
    if (ext == "mp3" && !PrependId3Tag(temp, path, voiceRecipe))
        return fail("its tags could not be written");
    if (std::rename(temp.c_str(), path.c_str()) != 0)
        return fail(std::strerror(errno));
    return true;
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
