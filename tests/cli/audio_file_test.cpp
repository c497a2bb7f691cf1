#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/audio_file.h"

using namespace qm;

namespace {

namespace fs = std::filesystem;

class AudioFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quillmar-audio-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    AudioData Tone(uint16_t bits, uint16_t channels, uint32_t rate, size_t frames) {
        AudioData audio;
        audio.format.channels = channels;
        audio.format.samplesPerSec = rate;
        audio.format.bitsPerSample = bits;
        const size_t bytes = bits / 8;
        audio.pcm.resize(frames * channels * bytes);
        for (size_t i = 0; i < frames * channels; ++i) {
            const double v = 0.5 * std::sin(0.05 * static_cast<double>(i));
            if (bits == 8) {
                audio.pcm[i] = static_cast<uint8_t>(128 + static_cast<int>(v * 127));
            } else if (bits == 16) {
                const auto s = static_cast<uint16_t>(static_cast<int16_t>(v * 32767));
                audio.pcm[2 * i] = static_cast<uint8_t>(s & 0xFF);
                audio.pcm[2 * i + 1] = static_cast<uint8_t>(s >> 8);
            } else {
                const float f = static_cast<float>(v);
                std::memcpy(&audio.pcm[4 * i], &f, 4);
            }
        }
        return audio;
    }

    size_t FilesInDir() const {
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }

    std::string dir_;
};

TEST_F(AudioFileTest, WavRoundTripKeepsEveryWidthBitExact) {
    for (uint16_t bits : {8, 16, 32}) {
        SCOPED_TRACE(bits);
        const AudioData written = Tone(bits, 2, 22050, 1000);
        const std::string path = dir_ + "/tone" + std::to_string(bits) + ".wav";
        std::string error;
        ASSERT_TRUE(WriteAudioFile(path, written, error)) << error;
        AudioData read;
        ASSERT_TRUE(ReadAudioFile(path, read, error)) << error;
        EXPECT_EQ(read.format.bitsPerSample, bits);
        EXPECT_EQ(read.format.channels, 2);
        EXPECT_EQ(read.format.samplesPerSec, 22050u);
        EXPECT_EQ(read.format.blockAlign, 2 * bits / 8);
        EXPECT_EQ(read.pcm, written.pcm);
    }
}

TEST_F(AudioFileTest, Mp3OutputDecodesToTheSameToneAtTheSameRate) {
    const AudioData written = Tone(16, 1, 44100, 44100);
    const std::string path = dir_ + "/tone.mp3";
    std::string error;
    ASSERT_TRUE(WriteAudioFile(path, written, error)) << error;
    AudioData read;
    ASSERT_TRUE(ReadAudioFile(path, read, error)) << error;
    EXPECT_EQ(read.format.samplesPerSec, 44100u);
    EXPECT_EQ(read.format.bitsPerSample, 16);
    // MP3 frames add encoder delay and padding: the length is close, not equal.
    const double seconds = static_cast<double>(read.pcm.size()) / 2 / 44100;
    EXPECT_NEAR(seconds, 1.0, 0.1);
}

TEST_F(AudioFileTest, FailedWritesLeaveNothingBehind) {
    const AudioData audio = Tone(16, 1, 8000, 100);
    std::string error;
    EXPECT_FALSE(WriteAudioFile(dir_ + "/out.ogx", audio, error));
    EXPECT_NE(error.find(".wav, .flac or .mp3"), std::string::npos);
    EXPECT_FALSE(WriteAudioFile(dir_ + "/missing/out.wav", audio, error));
    // MP3 has no 1000 Hz sampling rate and no more than two channels.
    AudioData odd = Tone(16, 1, 1000, 100);
    EXPECT_FALSE(WriteAudioFile(dir_ + "/odd.mp3", odd, error));
    EXPECT_NE(error.find("1000 Hz"), std::string::npos) << error;
    AudioData wide = Tone(16, 3, 44100, 100);
    EXPECT_FALSE(WriteAudioFile(dir_ + "/wide.mp3", wide, error));
    EXPECT_EQ(FilesInDir(), 0u);
}

// 24-bit whole numbers read as float (which holds them exactly) and are written back at 24 bits
// unchanged, in WAV and in FLAC; the effects' widths convert among themselves.
TEST_F(AudioFileTest, DeepWholeNumbersReadAsFloatAndWriteBackBitExact) {
    const int samples[5] = {0, 1 << 20, -(1 << 20), 0x7FFFFF00, 256};
    for (const char* ext : {"wav", "flac"}) {
        SCOPED_TRACE(ext);
        const std::string path = dir_ + "/deep." + ext;
        SF_INFO info{};
        info.channels = 1;
        info.samplerate = 44100;
        info.format = (ext[0] == 'w' ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_24;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        sf_write_int(file, samples, 5);
        sf_close(file);

        AudioData audio;
        std::string error;
        ASSERT_TRUE(ReadAudioFile(path, audio, error)) << error;
        EXPECT_EQ(audio.format.bitsPerSample, 32);
        EXPECT_EQ(audio.stored, std::optional(SampleWidth{24, false}));
        const std::string copy = dir_ + "/copy." + ext;
        ASSERT_TRUE(WriteAudioFile(copy, audio, error)) << error;
        SF_INFO copyInfo{};
        file = sf_open(copy.c_str(), SFM_READ, &copyInfo);
        ASSERT_NE(file, nullptr);
        int back[5] = {};
        EXPECT_EQ(sf_read_int(file, back, 5), 5);
        sf_close(file);
        EXPECT_EQ(copyInfo.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24);
        EXPECT_EQ(std::vector<int>(back, back + 5), std::vector<int>(samples, samples + 5));
    }
    AudioData tone = Tone(16, 1, 8000, 50);
    const AudioData original = tone;
    ASSERT_TRUE(ConvertPcm(tone, 32));
    ASSERT_TRUE(ConvertPcm(tone, 16));
    EXPECT_EQ(tone.pcm, original.pcm);
    ASSERT_TRUE(ConvertPcm(tone, 8));
    EXPECT_EQ(tone.format.blockAlign, 1);
    EXPECT_FALSE(ConvertPcm(tone, 24));
}

TEST_F(AudioFileTest, RefusesUnreadableFiles) {
    AudioData audio;
    std::string error;
    EXPECT_FALSE(ReadAudioFile(dir_ + "/absent.wav", audio, error));
    EXPECT_NE(error.find("absent.wav"), std::string::npos);

    const std::string junk = dir_ + "/junk.wav";
    FILE* f = std::fopen(junk.c_str(), "wb");
    std::fputs("RIFF this is not audio", f);
    std::fclose(f);
    EXPECT_FALSE(ReadAudioFile(junk, audio, error));
}

}  // namespace
