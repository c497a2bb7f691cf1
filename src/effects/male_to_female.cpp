#include "effects/male_to_female.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "dsp/overlap_add.h"
#include "dsp/resample.h"

namespace qm {

namespace {

constexpr EffectGuid kMaleToFemaleGuid = {
    0x0C5B34B6, 0x5B60, 0x4C7A, {0x99, 0x02, 0x91, 0xBF, 0x6B, 0x5E, 0xE8, 0xB2}};

// Twelve semitones to the octave.
float SemitonesToFactor(int32_t semitones) {
    return static_cast<float>(std::pow(2.0, semitones / 12.0));
}

int16_t LoadSample(const uint8_t* data, size_t sampleIndex) {
    int16_t v = 0;
    std::memcpy(&v, data + 2 * sampleIndex, sizeof v);  // the block may be unaligned
    return v;
}

void StoreSample(uint8_t* data, size_t sampleIndex, int16_t v) {
    std::memcpy(data + 2 * sampleIndex, &v, sizeof v);
}

}  // namespace

MaleToFemaleEffect::MaleToFemaleEffect() {
    SetIdentity("Male2Female", kMaleToFemaleGuid);
}

int MaleToFemaleEffect::Prepare(const WaveFormat* format) {
    Release();
    if (format == nullptr || !IsPlausibleStreamFormat(*format))
        return 0;
    const uint32_t n = FrameLength();
    // The cross-fade needs a window of at least two samples.
    if (n < 8)
        return 0;
    blockSamples_ = n;
    overlapSamples_ = n / 4;
    const uint32_t windowLength = (n / 2) & ~1u;
    const uint32_t longest = n + overlapSamples_ + 2 * kPaddingSamples;
    if (!window_.Allocate(windowLength) || !inputTail_.Allocate(overlapSamples_) ||
        !outputTail_.Allocate(overlapSamples_) || !monoInput_.Allocate(n) ||
        !monoOutput_.Allocate(n) || !processed_.Allocate(n + overlapSamples_) ||
        !context_.Allocate(longest) || !stretched_.Allocate(2 * longest) ||
        !sped_.Allocate(kPaddingSamples + n + overlapSamples_) ||
        !ReserveLibraryScratch(static_cast<float>(format->samplesPerSec))) {
        return 0;
    }
    // A Hamming window (0.54 - 0.46 cos) over the cross-fade, with 2 pi taken as the float
    // 6.2831852 as the cross-fade has always used it.
    constexpr double kHammingBase = 0.54;
    constexpr double kHammingSwing = 0.46;
    constexpr double kTwoPiAsFloat = 6.2831852;
    for (uint32_t i = 0; i < windowLength; ++i)
        window_[i] = static_cast<float>(
            kHammingBase - kHammingSwing * std::cos(kTwoPiAsFloat * i / (windowLength - 1)));
    std::memset(context_.Data(), 0, context_.Size() * sizeof(int16_t));
    firstBlock_ = true;
    return 1;
}

bool MaleToFemaleEffect::ReserveLibraryScratch(float sampleRateHz) {
    // A voice just under the analysis ceiling marks the most pulses and voiced frames; the
    // duration factor 2 (ToneShift 12) makes the longest resynthesis and speed change.
    constexpr double kVoiceHz = 380.0;
    constexpr float kLongestStretch = 2.0f;
    // A loud two-partial voice (about -12 dB and -18 dB of 16-bit full scale).
    constexpr double kFundamentalLevel = 8000.0;
    constexpr double kOvertoneLevel = 4000.0;
    const size_t length = context_.Size();
    for (size_t j = 0; j < length; ++j) {
        const double phase =
            2.0 * std::numbers::pi * kVoiceHz * static_cast<double>(j) / sampleRateHz;
        context_[j] = static_cast<int16_t>(kFundamentalLevel * std::sin(phase) +
                                           kOvertoneLevel * std::sin(2 * phase));
    }
    DspScratch measure;  // no storage: every block comes from the heap and is counted
    int32_t stretchedBytes = 0;
    {
        DspScratchScope scope(measure);
        stretchedBytes = ChangePitchDurationPcm16Into(
            context_.Data(), static_cast<int32_t>(2 * length), stretched_.Data(),
            static_cast<int32_t>(stretched_.Size()), sampleRateHz, kLongestStretch, 1.0f, 16);
    }
    if (stretchedBytes > 0) {
        DspScratchScope scope(measure);
        const uint32_t samples = static_cast<uint32_t>(stretchedBytes / 2);
        const int32_t usable = static_cast<int32_t>(
            samples < stretched_.Size() ? samples : static_cast<uint32_t>(stretched_.Size()));
        ChangeSpeedPcm16Into(stretched_.Data(), 2 * usable, sped_.Data(),
                             static_cast<int32_t>(sped_.Size()), sampleRateHz, kLongestStretch);
    }
    // A block whose analysis fails here (a rate too low for the pitch floor) will fail in
    // Process too; the scratch then only needs to exist.
    // Half as much again as measured plus 64 KiB: room for a real voice that marks more
    // pulses than the test tone.
    constexpr size_t kScratchSlackBytes = 65536;
    const size_t peak = measure.PeakBytes();
    return scratch_.Reserve(peak + peak / 2 + kScratchSlackBytes);
}

void MaleToFemaleEffect::Release() {
    window_.Free();
    inputTail_.Free();
    outputTail_.Free();
    monoInput_.Free();
    monoOutput_.Free();
    processed_.Free();
    context_.Free();
    stretched_.Free();
    sped_.Free();
    scratch_.Free();
    blockSamples_ = 0;
    overlapSamples_ = 0;
}

int MaleToFemaleEffect::GetParams(EffectParam** params, uint32_t* count) {
    return ListParams({&pitchShift_, &toneShift_}, params, count);
}

bool MaleToFemaleEffect::ProcessBlock(float sampleRateHz, float pitchFactor, float toneFactor,
                                      bool continuing, uint32_t& outputSamples) {
    const uint32_t n = blockSamples_;
    const uint32_t overlap = overlapSamples_;
    const uint32_t carried = continuing ? overlap : 0;
    const uint32_t length = n + carried + 2 * kPaddingSamples;
    int16_t* context = context_.Data();
    std::memset(context, 0, kPaddingSamples * sizeof(int16_t));
    std::memcpy(context + kPaddingSamples, inputTail_.Data(), carried * sizeof(int16_t));
    std::memcpy(context + kPaddingSamples + carried, monoInput_.Data(), n * sizeof(int16_t));
    std::memset(context + kPaddingSamples + carried + n, 0, kPaddingSamples * sizeof(int16_t));
    std::memcpy(inputTail_.Data(), monoInput_.Data() + (n - overlap), overlap * sizeof(int16_t));

    // Both library calls take their working arrays from the scratch and write into the
    // effect's own buffers: nothing on this thread touches the heap.
    int32_t stretchedBytes = 0;
    {
        DspScratchScope scope(scratch_);
        stretchedBytes = ChangePitchDurationPcm16Into(
            context, static_cast<int32_t>(2 * length), stretched_.Data(),
            static_cast<int32_t>(stretched_.Size()), sampleRateHz, toneFactor, pitchFactor, 16);
    }
    if (stretchedBytes <= 0)
        return false;
    // The resynthesis never yields more than twice its input, which the buffer holds.
    const uint32_t stretchedSamples = static_cast<uint32_t>(stretchedBytes / 2);
    const int32_t usable = static_cast<int32_t>(
        stretchedSamples < stretched_.Size() ? stretchedSamples : stretched_.Size());
    int32_t spedBytes = 0;
    {
        DspScratchScope scope(scratch_);
        spedBytes =
            ChangeSpeedPcm16Into(stretched_.Data(), 2 * usable, sped_.Data(),
                                 static_cast<int32_t>(sped_.Size()), sampleRateHz, toneFactor);
    }
    if (spedBytes <= 0)
        return false;

    // The speed change lands within a sample or two of the context length; a result that
    // falls short is completed with silence rather than read beyond its end.
    const uint32_t spedSamples = static_cast<uint32_t>(spedBytes / 2) < sped_.Size()
                                     ? static_cast<uint32_t>(spedBytes / 2)
                                     : static_cast<uint32_t>(sped_.Size());
    const int16_t* fast = sped_.Data();
    const uint32_t wanted = n + carried;
    int16_t* processed = processed_.Data();
    for (uint32_t k = 0; k < wanted; ++k) {
        const uint32_t from = kPaddingSamples + k;
        processed[k] = from < spedSamples ? fast[from] : 0;
    }

    int16_t* out = monoOutput_.Data();
    if (!continuing) {
        std::memcpy(out, processed, (n - overlap) * sizeof(int16_t));
        outputSamples = n - overlap;
    } else {
        // Falling half of the window over the previous block's tail, rising half over this
        // block's start; the two halves sum to about 1.08.
        for (uint32_t i = 0; i < overlap; ++i) {
            const float a = outputTail_[i] * window_[overlap + i];
            const float b = processed[i] * window_[i];
            const float s = a + b;
            // Clipped symmetrically to the 16-bit range.
            out[i] = s > 32767.0f ? 32767 : s < -32767.0f ? -32767 : static_cast<int16_t>(s);
        }
        std::memcpy(out + overlap, processed + overlap, (n - overlap) * sizeof(int16_t));
        outputSamples = n;
    }
    std::memcpy(outputTail_.Data(), processed + (wanted - overlap), overlap * sizeof(int16_t));
    return true;
}

int MaleToFemaleEffect::Process(const WaveFormat* format, uint8_t* data,
                                const uint32_t* byteCount) {
    if (format == nullptr || data == nullptr || byteCount == nullptr || monoInput_.Empty())
        return 0;
    const uint32_t count = *byteCount;
    const uint32_t channels = format->channels;
    const uint32_t n = blockSamples_;
    if (format->bitsPerSample != 16 || count == 0 || channels == 0 ||
        !IsPlausibleStreamFormat(*format) ||
        static_cast<uint64_t>(count) > static_cast<uint64_t>(n) * channels * 2) {
        return 0;
    }
    const float pitchFactor = SemitonesToFactor(pitchShift_.GetValue());
    const float toneFactor = SemitonesToFactor(toneShift_.GetValue());

    const size_t samples = count / 2;
    // A partial last frame still has its first-channel sample.
    const size_t frames = (samples + channels - 1) / channels;
    int16_t* mono = monoInput_.Data();
    for (size_t j = 0; j < n; ++j)
        mono[j] = j < frames ? LoadSample(data, j * channels) : 0;

    uint32_t r = 0;
    if (!ProcessBlock(static_cast<float>(format->samplesPerSec), pitchFactor, toneFactor,
                      !firstBlock_, r)) {
        return 0;
    }

    // Output k belongs to frame n - r + k of a whole block; earlier frames are silent. A short
    // block keeps only the frames it holds, so nothing is written before its start or past its
    // end, and every channel of a frame receives the value.
    const int16_t* out = monoOutput_.Data();
    const size_t lead = n - r;
    for (size_t sample = 0; sample < samples; ++sample) {
        const size_t frame = sample / channels;
        StoreSample(data, sample, frame < lead ? 0 : out[frame - lead]);
    }
    firstBlock_ = false;
    return 1;
}

uint32_t MaleToFemaleEffect::GetBlockSize(const WaveFormat* format) {
    if (format == nullptr) {
        SetFrameLength(0);
        return 0;
    }
    // About 0.2 s of one channel; the block carries that many frames of every channel.
    const uint32_t n = FrameLengthFor(static_cast<double>(format->samplesPerSec) * 0.2);
    const uint64_t bytes64 =
        (static_cast<uint64_t>(n) * format->bitsPerSample / 8) * format->channels;
    const uint32_t bytes = bytes64 > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes64);
    SetFrameLength(bytes == 0 ? 0 : n);
    return bytes;
}

void MaleToFemaleEffect::Reset() {
    pitchShift_.ResetToDefault();
    toneShift_.ResetToDefault();
}

}  // namespace qm
