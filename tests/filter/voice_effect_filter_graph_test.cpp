// "Audio Effects" in the platform's real filter graph: virtual microphone -> the filter ->
// capture sink. The oracle is the effect stage core itself, fed the same bytes in the same
// pieces: what reaches the sink must match it bit for bit, lead-in and drained tail included.
#include <gtest/gtest.h>

#include <windows.h>

#include <uuids.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <span>
#include <thread>
#include <vector>

#include "capture_sink.h"
#include "filter/effect_stage.h"
#include "filter/win/voice_effect_filter.h"
#include "graph_helpers.h"
#include "streaming/win/media_type.h"

using namespace qm;

namespace {

std::atomic<int> g_destroyed{0};

class CountingFilter final : public VoiceEffectFilter {
  public:
    CountingFilter() : VoiceEffectFilter(nullptr) {}
    ~CountingFilter() override { ++g_destroyed; }
};

constexpr DWORD kWaitMs = 30000;

// The shared microphone -> filter -> sink graph, with the voice filter in the middle.
struct Rig : MicGraph {
    CountingFilter* voice = nullptr;
};

// Builds and connects a rig; the effect is selected before the connection or after it, as
// the recorder may do either.
void BuildRig(Rig& rig, const std::string& wav, uint32_t bufferMs, int index,
              bool selectBeforeConnect) {
    rig.voice = new CountingFilter();
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(rig.voice->NonDelegatingQueryInterface(IID_IBaseFilter, filter.PutVoid()), S_OK);
    ASSERT_EQ(rig.Add(wav, bufferMs, filter), S_OK) << "is the virtual microphone registered?";
    if (selectBeforeConnect) {
        rig.voice->SelectEffect(index, 0);
    }
    ASSERT_EQ(rig.Connect(), S_OK);
    if (!selectBeforeConnect) {
        rig.voice->SelectEffect(index, 0);
    }
}

// Ends the recording the way the recorder does: drain, wait for end of stream, stop.
void FinishRecording(Rig& rig) {
    EXPECT_EQ(rig.voice->EndStream(), S_OK);
    EXPECT_TRUE(rig.sink->WaitForEndOfStream(kWaitMs));
    rig.graph.control->Stop();
}

// Lengths of the samples the streaming thread delivered, in order; the drained tail arrives
// on the thread that ended the stream and is left out.
std::vector<long> StreamedPieces(CaptureSink& sink, DWORD endingThread) {
    const SinkReceived got = sink.Received();
    std::vector<long> pieces;
    for (size_t i = 0; i < got.lengths.size(); ++i) {
        if (got.threads[i] != endingThread) {
            pieces.push_back(got.lengths[i]);
        }
    }
    return pieces;
}

struct StageRun {
    std::vector<uint8_t> bytes;
    size_t leadInBytes = 0;
};

// The stage core over `input` cut into `pieces`, then drained.
StageRun RunStage(const WAVEFORMATEX& format, int index, const std::vector<uint8_t>& input,
                  const std::vector<long>& pieces) {
    StageRun run;
    auto stage = std::make_unique<EffectStage>();
    stage->SetFormat(kWaveFormatType, reinterpret_cast<const uint8_t*>(&format), sizeof(format));
    stage->SelectEffect(index);
    run.leadInBytes = stage->Processing() ? size_t{stage->Gap()} * stage->BlockBytes() : 0;
    size_t offset = 0;
    for (long piece : pieces) {
        std::vector<uint8_t> buffer(input.begin() + offset, input.begin() + offset + piece);
        stage->Transform(buffer);
        run.bytes.insert(run.bytes.end(), buffer.begin(), buffer.end());
        offset += static_cast<size_t>(piece);
    }
    std::array<uint8_t, 4096> chunk{};
    while (size_t n = stage->Drain(chunk)) {
        run.bytes.insert(run.bytes.end(), chunk.begin(), chunk.begin() + n);
    }
    return run;
}

size_t Total(const std::vector<long>& pieces) {
    size_t sum = 0;
    for (long piece : pieces) {
        sum += static_cast<size_t>(piece);
    }
    return sum;
}

struct FormatCase {
    uint16_t channels;
    uint32_t samplesPerSecHz;
    uint32_t bufferMs;
};

class VoiceEffectGraphTest : public ::testing::TestWithParam<FormatCase> {
  protected:
    ComApartment com_;
};

// Every recorder index (none and 1..5) at once, one graph each: the effects are process-wide
// objects, so each graph must hold a different one.
TEST_P(VoiceEffectGraphTest, SinkReceivesExactlyWhatTheStageCoreProducesWithLeadInAndTail) {
    const FormatCase param = GetParam();
    const Pcm16Audio voice = MakeTestVoice(param.channels, param.samplesPerSecHz, 0.9, 11);
    const ScratchWav wav("quillmar_filter_voice.wav", voice);
    ASSERT_TRUE(wav.Written());
    const MediaType pcm = MakePcmMediaType(param.channels, param.samplesPerSecHz, 16);
    const WAVEFORMATEX format = *WaveFormatOf(pcm.Get());

    constexpr std::array<int, 6> kIndexes = {0, 1, 2, 3, 4, 5};
    const int destroyedBefore = g_destroyed;
    std::array<std::vector<uint8_t>, kIndexes.size()> received;
    std::array<std::vector<long>, kIndexes.size()> pieces;
    {
        std::array<Rig, kIndexes.size()> rigs;
        for (size_t i = 0; i < rigs.size(); ++i) {
            ASSERT_NO_FATAL_FAILURE(
                BuildRig(rigs[i], wav.Path(), param.bufferMs, kIndexes[i], i % 2 == 0));
        }
        for (Rig& rig : rigs) {
            ASSERT_TRUE(SUCCEEDED(rig.graph.control->Run()));
        }
        // A little over the file's length, so the microphone's loop point goes through too.
        const size_t wanted = format.nAvgBytesPerSec * 12 / 10;
        for (Rig& rig : rigs) {
            ASSERT_TRUE(rig.sink->WaitForBytes(wanted, kWaitMs));
        }
        for (size_t i = 0; i < rigs.size(); ++i) {
            FinishRecording(rigs[i]);
            received[i] = rigs[i].sink->Received().bytes;
            pieces[i] = StreamedPieces(*rigs[i].sink, GetCurrentThreadId());
        }
    }
    EXPECT_EQ(g_destroyed, destroyedBefore + static_cast<int>(kIndexes.size()))
        << "releasing the graphs must destroy every filter";

    // The oracle runs only now: the graphs have released the shared effect objects.
    for (size_t i = 0; i < kIndexes.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "recorder index " << kIndexes[i]);
        const size_t inputBytes = Total(pieces[i]);
        const StageRun expected =
            RunStage(format, kIndexes[i], LoopedBytes(voice, inputBytes), pieces[i]);
        // Every selected effect goes through the FIFO at these formats, so the comparison
        // covers the lead-in and the drained tail, not just a pass-through.
        EXPECT_EQ(expected.leadInBytes > 0, kIndexes[i] != 0);
        // Every byte of the microphone's audio comes out, behind the lead-in.
        EXPECT_EQ(received[i].size(), inputBytes + expected.leadInBytes);
        EXPECT_TRUE(received[i] == expected.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, VoiceEffectGraphTest,
                         ::testing::Values(FormatCase{1, 44100, 10}, FormatCase{2, 44100, 10},
                                           FormatCase{1, 22050, 10}, FormatCase{1, 44100, 500},
                                           FormatCase{2, 44100, 500}, FormatCase{1, 22050, 500}));

class VoiceEffectFilterTest : public ::testing::Test {
  protected:
    ComApartment com_;
};

// Hundreds of switches from another thread while samples flow. A switch may land only
// between two samples: after the last one, the output from some sample boundary on must be
// exactly what a freshly selected stage makes of the input from there.
TEST_F(VoiceEffectFilterTest, SwitchesFromAnotherThreadLandBetweenSamples) {
    const Pcm16Audio voice = MakeTestVoice(1, 44100, 0.7, 5);
    const ScratchWav wav("quillmar_switch_voice.wav", voice);
    ASSERT_TRUE(wav.Written());
    const MediaType pcm = MakePcmMediaType(1, 44100, 16);
    const WAVEFORMATEX format = *WaveFormatOf(pcm.Get());
    constexpr int kFinalIndex = 5;

    std::vector<uint8_t> received;
    std::vector<long> pieces;
    size_t firstCandidate = 0;
    size_t lastCandidate = 0;
    {
        Rig rig;
        ASSERT_NO_FATAL_FAILURE(BuildRig(rig, wav.Path(), 10, 0, false));
        ASSERT_TRUE(SUCCEEDED(rig.graph.control->Run()));
        ASSERT_TRUE(rig.sink->WaitForBytes(8820, kWaitMs));
        std::thread switcher([&rig] {
            for (int i = 0; i < 600; ++i) {
                rig.voice->SelectEffect((i * 5) % 7 - 1, 0);  // -1 .. 5, in a hopping order
                if (i % 4 == 0) {
                    Sleep(1);
                }
            }
        });
        switcher.join();
        firstCandidate = rig.sink->Received().lengths.size();
        rig.voice->SelectEffect(kFinalIndex, 0);
        lastCandidate = rig.sink->Received().lengths.size() + 2;
        ASSERT_TRUE(rig.sink->WaitForBytes(rig.sink->Received().bytes.size() + 44100, kWaitMs));
        FinishRecording(rig);
        received = rig.sink->Received().bytes;
        pieces = StreamedPieces(*rig.sink, GetCurrentThreadId());
    }
    ASSERT_GT(pieces.size(), lastCandidate);
    // The microphone's samples are all 10 ms long, so sample k starts at k * piece bytes in
    // both the input and the output.
    const size_t pieceBytes = static_cast<size_t>(pieces[0]);
    const size_t inputBytes = Total(pieces);
    const std::vector<uint8_t> input = LoopedBytes(voice, inputBytes);
    bool matched = false;
    for (size_t start = firstCandidate; start <= lastCandidate && !matched; ++start) {
        const std::vector<long> rest(pieces.begin() + static_cast<long>(start), pieces.end());
        const std::vector<uint8_t> tailInput(input.begin() + start * pieceBytes, input.end());
        const StageRun expected = RunStage(format, kFinalIndex, tailInput, rest);
        matched = received.size() >= start * pieceBytes &&
                  std::equal(expected.bytes.begin(), expected.bytes.end(),
                             received.begin() + start * pieceBytes, received.end());
    }
    EXPECT_TRUE(matched) << "no sample boundary explains the output after the last switch";
}

TEST_F(VoiceEffectFilterTest, ReconnectionRestartsTheLeadIn) {
    const Pcm16Audio voice = MakeTestVoice(2, 44100, 0.5, 3);
    const ScratchWav wav("quillmar_reconnect_voice.wav", voice);
    ASSERT_TRUE(wav.Written());
    const MediaType pcm = MakePcmMediaType(2, 44100, 16);
    const WAVEFORMATEX format = *WaveFormatOf(pcm.Get());
    constexpr int kIndex = 5;

    Rig rig;
    ASSERT_NO_FATAL_FAILURE(BuildRig(rig, wav.Path(), 10, kIndex, true));
    // A first recording stopped without draining leaves audio in the FIFO.
    ASSERT_TRUE(SUCCEEDED(rig.graph.control->Run()));
    ASSERT_TRUE(rig.sink->WaitForBytes(200000, kWaitMs));
    rig.graph.control->Stop();

    ASSERT_EQ(rig.ReconnectInput(), S_OK);
    rig.sink->Clear();

    ASSERT_TRUE(SUCCEEDED(rig.graph.control->Run()));
    ASSERT_TRUE(rig.sink->WaitForBytes(200000, kWaitMs));
    FinishRecording(rig);
    const std::vector<uint8_t> received = rig.sink->Received().bytes;
    const std::vector<long> pieces = StreamedPieces(*rig.sink, GetCurrentThreadId());
    rig = Rig{};

    const StageRun expected = RunStage(format, kIndex, LoopedBytes(voice, Total(pieces)), pieces);
    ASSERT_GT(expected.leadInBytes, 0u);
    EXPECT_TRUE(received == expected.bytes);
}

TEST_F(VoiceEffectFilterTest, RefusesNonAudioAndKeepsTheFormatForNonWaveAudio) {
    ComPtr<IBaseFilter> mic = BindVirtualMic(TempFilePath("quillmar_absent.wav"), 10);
    ASSERT_TRUE(mic);
    ComPtr<IPin> micOut = FirstPin(mic.Get(), PINDIR_OUTPUT);
    HRESULT created = E_FAIL;
    VoiceEffectFilter* voice = VoiceEffectFilter::CreateInstance(nullptr, &created);
    ASSERT_EQ(created, S_OK);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(voice->NonDelegatingQueryInterface(IID_IBaseFilter, filter.PutVoid()), S_OK);
    ComPtr<IPin> input;
    ASSERT_EQ(filter->FindPin(L"Input", input.Put()), S_OK);

    AM_MEDIA_TYPE video{};
    video.majortype = MEDIATYPE_Video;
    video.subtype = MEDIASUBTYPE_PCM;
    video.formattype = FORMAT_WaveFormatEx;
    EXPECT_EQ(input->ReceiveConnection(micOut.Get(), &video), E_INVALIDARG);

    // Audio with no wave format block: connects, and the stream format stays as it was.
    AM_MEDIA_TYPE bare{};
    bare.majortype = MEDIATYPE_Audio;
    bare.subtype = MEDIASUBTYPE_NULL;
    bare.formattype = FORMAT_None;
    ASSERT_EQ(input->ReceiveConnection(micOut.Get(), &bare), S_OK);
    EXPECT_EQ(voice->StreamFormat().samplesPerSec, 0u);
    ASSERT_EQ(input->Disconnect(), S_OK);

    const MediaType wave = MakePcmMediaType(2, 22050, 16);
    ASSERT_EQ(input->ReceiveConnection(micOut.Get(), &wave.Get()), S_OK);
    ASSERT_EQ(input->Disconnect(), S_OK);
    ASSERT_EQ(input->ReceiveConnection(micOut.Get(), &bare), S_OK);
    const WaveFormat kept = voice->StreamFormat();
    EXPECT_EQ(kept.samplesPerSec, 22050u);
    EXPECT_EQ(kept.channels, 2u);
    EXPECT_EQ(kept.bitsPerSample, 16u);
    ASSERT_EQ(input->Disconnect(), S_OK);
}

// The control interface is a binary contract: call it through raw slots as a client built
// elsewhere would.
TEST_F(VoiceEffectFilterTest, ControlInterfaceSlotsAndReferenceCounts) {
    EXPECT_EQ(VoiceEffectFilter::CreateInstance(nullptr, nullptr), nullptr);
    HRESULT created = E_FAIL;
    VoiceEffectFilter* voice = VoiceEffectFilter::CreateInstance(nullptr, &created);
    ASSERT_EQ(created, S_OK);
    void* raw = nullptr;
    ASSERT_EQ(voice->NonDelegatingQueryInterface(IID_IVoiceEffectControl, &raw), S_OK);
    auto* control = static_cast<IUnknown*>(raw);
    EXPECT_EQ(control->AddRef(), 2u) << "the first query gives the first reference";
    EXPECT_EQ(control->Release(), 1u);

    void** slots = *static_cast<void***>(raw);
    using OneValue = HRESULT(STDMETHODCALLTYPE*)(void*, uint32_t);
    using Select = HRESULT(STDMETHODCALLTYPE*)(void*, int32_t, uint32_t);
    using EightValues = HRESULT(STDMETHODCALLTYPE*)(void*, uint32_t, uint32_t, uint32_t, uint32_t,
                                                    uint32_t, uint32_t, uint32_t, uint32_t);
    EXPECT_EQ(reinterpret_cast<OneValue>(slots[3])(raw, 7), S_FALSE);
    EXPECT_EQ(reinterpret_cast<Select>(slots[4])(raw, 5, 0), S_OK);
    EXPECT_EQ(reinterpret_cast<Select>(slots[4])(raw, -2, 0), S_OK);
    EXPECT_EQ(reinterpret_cast<OneValue>(slots[5])(raw, 7), S_OK);
    EXPECT_EQ(reinterpret_cast<EightValues>(slots[6])(raw, 1, 2, 3, 4, 5, 6, 7, 8), S_OK);

    ComPtr<IUnknown> identity;
    ASSERT_EQ(control->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
    ComPtr<IPersist> persist;
    ASSERT_EQ(identity.As(&persist), S_OK);
    CLSID clsid{};
    ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_VoiceEffectFilter));
    EXPECT_EQ(voice->NonDelegatingQueryInterface(IID_IVoiceEffectControl, nullptr), E_POINTER);
    persist = nullptr;
    identity = nullptr;
    EXPECT_EQ(control->Release(), 0u);
}

}  // namespace
