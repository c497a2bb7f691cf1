// Checks of real recordings, decoded on the Linux side by an independent MP3 decoder (see
// recording_test.sh, which makes the recordings with record.exe and the recorder and decodes
// them). Run with QUILLMAR_E2E_DIR naming the work folder; with --make-inputs DIR it writes
// the microphone's WAV files instead.
//
// The microphone plays its file from the first sample at the moment the graph runs, in real
// time; so sample n of the recording (after the decoder's own offset and the effect's silent
// lead-in) is sample n of the file, and the recording holds as much audio as the time between
// Start and Stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "filter/effect_stage.h"
#include "filter/stream_helpers.h"
#include "graph_helpers.h"
#include "wav_file.h"

using namespace qm;

namespace {

constexpr uint32_t kRateHz = 44100;
constexpr uint16_t kChannels = 2;
constexpr double kToneHz = 140.0;
// Baby raises the pitch by 16 semitones.
constexpr double kBabyFactor = 2.5198421;
constexpr int kBabyIndex = 1;

// The microphone's files: a harmonic tone of known fundamental for the pitch checks, a
// gliding voice-like signal (never periodic, so alignment is unambiguous) for the others.
Pcm16Audio MakeTone() {
    Pcm16Audio audio;
    audio.channels = kChannels;
    audio.samplesPerSecHz = kRateHz;
    const size_t frames = kRateHz * 12;
    audio.samples.resize(frames * kChannels);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRateHz;
        double value = 0.0;
        for (int h = 1; h <= 6; ++h) {
            value += 0.3 / h * std::sin(2.0 * std::numbers::pi * kToneHz * h * t);
        }
        for (uint16_t c = 0; c < kChannels; ++c) {
            audio.samples[i * kChannels + c] = static_cast<int16_t>(std::lround(value * 32767.0));
        }
    }
    return audio;
}

Pcm16Audio MakeVoice() {
    return MakeTestVoice(kChannels, kRateHz, 12.0, 7);
}

std::string WorkDir() {
    const char* dir = std::getenv("QUILLMAR_E2E_DIR");
    return dir != nullptr ? std::string(dir) + "/" : std::string();
}

struct Decoded {
    std::vector<double> left, right, mono;
    double recordedSeconds = 0.0;
};

// The decoded recording `name`.wav and the time its recorder ran, `name`.seconds.
bool Load(const std::string& name, Decoded* out) {
    Pcm16Audio audio;
    if (!ReadWavAs16Bit(WorkDir() + name + ".wav", audio) || audio.channels != kChannels ||
        audio.samplesPerSecHz != kRateHz) {
        return false;
    }
    const size_t frames = audio.samples.size() / kChannels;
    for (size_t i = 0; i < frames; ++i) {
        const double l = audio.samples[2 * i] / 32768.0;
        const double r = audio.samples[2 * i + 1] / 32768.0;
        out->left.push_back(l);
        out->right.push_back(r);
        out->mono.push_back(0.5 * (l + r));
    }
    std::ifstream seconds(WorkDir() + name + ".seconds");
    return static_cast<bool>(seconds >> out->recordedSeconds);
}

std::vector<double> Channel(const Pcm16Audio& audio, int channel, size_t frames) {
    std::vector<double> out(frames);
    const size_t fileFrames = audio.samples.size() / audio.channels;
    for (size_t i = 0; i < frames; ++i) {
        const size_t at = (i % fileFrames) * audio.channels;  // the microphone loops its file
        out[i] = channel < 0 ? 0.5 * (audio.samples[at] + audio.samples[at + 1]) / 32768.0
                             : audio.samples[at + channel] / 32768.0;
    }
    return out;
}

double Correlation(const std::vector<double>& a, size_t aFrom, const std::vector<double>& b,
                   size_t bFrom, size_t count) {
    double ab = 0.0, aa = 0.0, bb = 0.0;
    for (size_t i = 0; i < count; ++i) {
        ab += a[aFrom + i] * b[bFrom + i];
        aa += a[aFrom + i] * a[aFrom + i];
        bb += b[bFrom + i] * b[bFrom + i];
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

double Rms(const std::vector<double>& x, size_t from, size_t count) {
    double sum = 0.0;
    for (size_t i = from; i < from + count; ++i) {
        sum += x[i] * x[i];
    }
    return std::sqrt(sum / static_cast<double>(count));
}

// One past the last sample above a thousandth of full scale: the decoder's trailing padding
// is digital silence, the recorded signals never fall that low.
size_t ContentEnd(const std::vector<double>& x) {
    for (size_t i = x.size(); i > 0; --i) {
        if (std::abs(x[i - 1]) > 1e-3) {
            return i;
        }
    }
    return 0;
}

// Fundamental of x[from, from + count) from the normalised autocorrelation: the shortest lag
// (60..1000 Hz) within 10 % of the best one, refined by a parabola. The shortest such lag
// avoids octave errors on a tone whose multiples of the period correlate as well.
double FundamentalHz(const std::vector<double>& x, size_t from, size_t count) {
    const size_t minLag = kRateHz / 1000;
    const size_t maxLag = kRateHz / 60;
    std::vector<double> r(maxLag + 2, 0.0);
    for (size_t lag = minLag - 1; lag <= maxLag + 1; ++lag) {
        r[lag] = Correlation(x, from, x, from + lag, count - maxLag - 1);
    }
    const double best = *std::max_element(r.begin() + minLag, r.begin() + maxLag + 1);
    for (size_t lag = minLag; lag <= maxLag; ++lag) {
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            const double denominator = r[lag - 1] - 2.0 * r[lag] + r[lag + 1];
            const double shift =
                denominator != 0.0 ? 0.5 * (r[lag - 1] - r[lag + 1]) / denominator : 0.0;
            return kRateHz / (static_cast<double>(lag) + shift);
        }
    }
    return 0.0;
}

// The lead-in of the effect stage for the recordings' format.
size_t LeadInFrames(int index) {
    auto stage = std::make_unique<EffectStage>();
    Connect(*stage, Pcm(kRateHz, kChannels, 16));
    stage->SelectEffect(index);
    return stage->Processing() ? size_t{stage->Gap()} * stage->BlockBytes() / (kChannels * 2) : 0;
}

// Where sample 0 of the microphone lies in a decoded plain recording: the best match of the
// voice within the first 0.2 s (encoder and decoder delays are a few MP3 frames).
size_t DecoderOffset(const Decoded& plain, const std::vector<double>& mic) {
    size_t best = 0;
    double bestCorrelation = -1.0;
    for (size_t lag = 0; lag < kRateHz / 5; ++lag) {
        const double c = Correlation(plain.mono, lag + kRateHz / 2, mic, kRateHz / 2, kRateHz);
        if (c > bestCorrelation) {
            bestCorrelation = c;
            best = lag;
        }
    }
    return best;
}

// How far the audio in a recording may be off the time its recorder measured between
// Start and Stop: the microphone delivers 10 ms buffers, and Run and the end of the stream
// each lie a few milliseconds outside the measured span. Losing the effect's held blocks or
// the encoder's last frames (each 26 ms or more) would break it.
constexpr double kLengthToleranceSeconds = 0.025;

class Recordings : public ::testing::Test {
  protected:
    void SetUp() override {
        if (WorkDir().empty()) {
            GTEST_SKIP() << "QUILLMAR_E2E_DIR is not set; recording_test.sh sets it";
        }
        ASSERT_TRUE(Load("plain", &plain_)) << "no decoded plain recording";
        const Pcm16Audio voice = MakeVoice();
        micMono_ = Channel(voice, -1, plain_.mono.size() + kRateHz);
        offset_ = DecoderOffset(plain_, micMono_);
    }

    Decoded plain_;
    std::vector<double> micMono_;
    size_t offset_ = 0;
};

TEST_F(Recordings, PlainRecordingIsTheMicrophonesAudioAtTheSameLevel) {
    const Pcm16Audio voice = MakeVoice();
    // Everything the microphone surely delivered before Stop; the length check below covers
    // the few milliseconds at the end that its buffering leaves open.
    const size_t recorded =
        static_cast<size_t>((plain_.recordedSeconds - kLengthToleranceSeconds) * kRateHz);
    ASSERT_GT(recorded, kRateHz);
    ASSERT_GE(plain_.mono.size(), offset_ + recorded) << "the recording is too short";
    // MP3 at the encoder's rate keeps the waveform to within a few percent of its energy.
    for (int channel = 0; channel < 2; ++channel) {
        SCOPED_TRACE(channel == 0 ? "left" : "right");
        const std::vector<double>& got = channel == 0 ? plain_.left : plain_.right;
        const std::vector<double> mic = Channel(voice, channel, recorded);
        EXPECT_GT(Correlation(got, offset_, mic, 0, recorded), 0.95);
        const double gainDb =
            20.0 * std::log10(Rms(got, offset_, recorded) / Rms(mic, 0, recorded));
        EXPECT_NEAR(gainDb, 0.0, 1.0);
        // The last half-second before Stop is there, in place.
        const size_t half = kRateHz / 2;
        EXPECT_GT(Correlation(got, offset_ + recorded - half, mic, recorded - half, half), 0.95);
    }
    const double contentSeconds = static_cast<double>(ContentEnd(plain_.mono) - offset_) / kRateHz;
    EXPECT_NEAR(contentSeconds, plain_.recordedSeconds, kLengthToleranceSeconds);
}

struct PitchCase {
    const char* name;
};

class PitchedRecording : public Recordings, public ::testing::WithParamInterface<PitchCase> {};

// "baby": Baby selected before Start. "reuse": the second recording of a recorder whose
// effect was selected once, before the first.
TEST_P(PitchedRecording, CarriesTheBabyPitchToTheLastHalfSecond) {
    Decoded baby;
    ASSERT_TRUE(Load(GetParam().name, &baby));
    const size_t leadIn = LeadInFrames(kBabyIndex);
    ASSERT_GT(leadIn, 0u);
    const size_t start = offset_ + leadIn;
    const size_t end = ContentEnd(baby.mono);
    ASSERT_GT(end, start + kRateHz);
    // Lead-in included: the recording is the lead-in followed by all the audio captured.
    const double contentSeconds = static_cast<double>(end - start) / kRateHz;
    EXPECT_NEAR(contentSeconds, baby.recordedSeconds, kLengthToleranceSeconds);
    // The vocoder places each partial within a fraction of its 43 Hz bin and the
    // autocorrelation's parabola is good to a fraction of a sample: 2 % covers both.
    const double middle = FundamentalHz(baby.mono, start + kRateHz / 2, kRateHz / 2);
    EXPECT_NEAR(middle / kToneHz, kBabyFactor, kBabyFactor * 0.02);
    const double last = FundamentalHz(baby.mono, end - kRateHz / 2, kRateHz / 2 - kRateHz / 50);
    EXPECT_NEAR(last / kToneHz, kBabyFactor, kBabyFactor * 0.02);
}

INSTANTIATE_TEST_SUITE_P(Recordings, PitchedRecording,
                         ::testing::Values(PitchCase{"baby"}, PitchCase{"reuse"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--make-inputs") {
        const std::string dir = std::string(argv[2]) + "/";
        const bool ok =
            WriteWav16(dir + "tone.wav", MakeTone()) && WriteWav16(dir + "voice.wav", MakeVoice());
        if (!ok) {
            std::fprintf(stderr, "cannot write the microphone's files into %s\n", argv[2]);
        }
        return ok ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
