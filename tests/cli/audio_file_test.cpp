#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "cli/audio_file.h"

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

TEST_F(AudioFileTest, RefusesWidthsTheEffectsDoNotTakeAndUnreadableFiles) {
    const std::string path = dir_ + "/deep.wav";
    SF_INFO info{};
    info.channels = 1;
    info.samplerate = 44100;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    const int samples[4] = {0, 1 << 20, -(1 << 20), 0};
    sf_write_int(file, samples, 4);
    sf_close(file);

    AudioData audio;
    std::string error;
    EXPECT_FALSE(ReadAudioFile(path, audio, error));
    EXPECT_NE(error.find("24-bit"), std::string::npos) << error;
    EXPECT_FALSE(ReadAudioFile(dir_ + "/absent.wav", audio, error));
    EXPECT_NE(error.find("absent.wav"), std::string::npos);

    const std::string junk = dir_ + "/junk.wav";
    FILE* f = std::fopen(junk.c_str(), "wb");
    std::fputs("RIFF this is not audio", f);
    std::fclose(f);
    EXPECT_FALSE(ReadAudioFile(junk, audio, error));
}

}  // namespace
