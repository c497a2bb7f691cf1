// "Audio Effects" in the platform's real filter graph: virtual microphone -> the filter ->
// capture sink. The oracle is the effect stage core itself, fed the same bytes in the same
// pieces: what reaches the sink must match it bit for bit, lead-in and drained tail included.
#include <gtest/gtest.h>

#include <windows.h>

#include <uuids.h>

#include <array>
#include <atomic>
#include <memory>
#include <span>
#include <vector>

#include "capture_sink.h"
#include "filter/effect_stage.h"
#include "filter/voice_effect_filter.h"
#include "graph_helpers.h"
#include "streaming/media_type.h"

namespace {

std::atomic<int> g_destroyed{0};

class CountingFilter final : public VoiceEffectFilter {
  public:
    CountingFilter() : VoiceEffectFilter(nullptr) {}
    ~CountingFilter() override { ++g_destroyed; }
};

constexpr DWORD kWaitMs = 30000;

// One microphone -> filter -> sink graph, running.
struct Rig {
    FilterGraph graph;
    ComPtr<IBaseFilter> mic, filter, sinkFilter;
    CountingFilter* voice = nullptr;
    CaptureSink* sink = nullptr;
};

// The effect is selected before the connection or after it, as the recorder may do either.
void StartRig(Rig& rig, const std::string& wav, uint32_t bufferMs, int index, bool selectFirst) {
    rig.graph = CreateFilterGraph();
    ASSERT_TRUE(rig.graph.control);
    rig.mic = BindVirtualMic(wav, bufferMs);
    ASSERT_TRUE(rig.mic) << "the virtual microphone is not registered";
    rig.voice = new CountingFilter();
    ASSERT_EQ(rig.voice->NonDelegatingQueryInterface(IID_IBaseFilter, rig.filter.PutVoid()), S_OK);
    rig.sinkFilter = CaptureSink::Create(SinkAllocatorMode::kTakeUpstreams, &rig.sink);
    IGraphBuilder* builder = rig.graph.builder.Get();
    ASSERT_EQ(builder->AddFilter(rig.mic.Get(), L"Microphone"), S_OK);
    ASSERT_EQ(builder->AddFilter(rig.filter.Get(), L"Audio Effects"), S_OK);
    ASSERT_EQ(builder->AddFilter(rig.sinkFilter.Get(), L"Sink"), S_OK);
    if (selectFirst)
        rig.voice->SelectEffect(index, 0);
    ASSERT_EQ(ConnectDirect(builder, rig.mic.Get(), rig.filter.Get()), S_OK);
    ASSERT_EQ(ConnectDirect(builder, rig.filter.Get(), rig.sinkFilter.Get()), S_OK);
    if (!selectFirst)
        rig.voice->SelectEffect(index, 0);
    ASSERT_TRUE(SUCCEEDED(rig.graph.control->Run()));
}

// Ends the recording the way the recorder does (drain, wait for end of stream, stop) and
// returns the lengths of the samples the streaming thread delivered; the drained tail
// arrives on this thread and is left out.
std::vector<long> FinishRecording(Rig& rig) {
    EXPECT_EQ(rig.voice->EndStream(), S_OK);
    EXPECT_TRUE(rig.sink->WaitForEndOfStream(kWaitMs));
    rig.graph.control->Stop();
    const std::vector<long> lengths = rig.sink->SampleLengths();
    const std::vector<DWORD> threads = rig.sink->SampleThreads();
    std::vector<long> pieces;
    for (size_t i = 0; i < lengths.size(); ++i) {
        if (threads[i] != GetCurrentThreadId())
            pieces.push_back(lengths[i]);
    }
    return pieces;
}

// The stage core over the microphone's looped audio cut into `pieces`, then drained.
std::vector<uint8_t> RunStage(const WAVEFORMATEX& format, int index, const Pcm16Audio& voice,
                              const std::vector<long>& pieces, size_t* leadInBytes) {
    size_t total = 0;
    for (long piece : pieces)
        total += static_cast<size_t>(piece);
    std::vector<uint8_t> bytes = LoopedBytes(voice, total);
    auto stage = std::make_unique<EffectStage>();
    stage->SetFormat(kWaveFormatType, reinterpret_cast<const uint8_t*>(&format), sizeof(format));
    stage->SelectEffect(index);
    *leadInBytes = stage->Processing() ? size_t{stage->Gap()} * stage->BlockBytes() : 0;
    size_t offset = 0;
    for (long piece : pieces) {
        stage->Transform(std::span<uint8_t>(bytes.data() + offset, static_cast<size_t>(piece)));
        offset += static_cast<size_t>(piece);
    }
    std::array<uint8_t, 4096> chunk{};
    while (size_t n = stage->Drain(chunk))
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    return bytes;
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
    const std::string wav = TempFilePath("quillmar_filter_voice.wav");
    ASSERT_TRUE(WriteWav16(wav, voice));
    const MediaType pcm = MakePcmMediaType(param.channels, param.samplesPerSecHz, 16);
    const WAVEFORMATEX format = *WaveFormatOf(pcm.Get());

    constexpr int kIndexes = 6;
    const int destroyedBefore = g_destroyed;
    std::array<std::vector<uint8_t>, kIndexes> received;
    std::array<std::vector<long>, kIndexes> pieces;
    {
        std::array<Rig, kIndexes> rigs;
        for (int i = 0; i < kIndexes; ++i)
            ASSERT_NO_FATAL_FAILURE(StartRig(rigs[i], wav, param.bufferMs, i, i % 2 == 0));
        // A little over the file's length, so the microphone's loop point goes through too.
        for (Rig& rig : rigs)
            ASSERT_TRUE(rig.sink->WaitForBytes(format.nAvgBytesPerSec * 12 / 10, kWaitMs));
        for (int i = 0; i < kIndexes; ++i) {
            pieces[i] = FinishRecording(rigs[i]);
            received[i] = rigs[i].sink->Bytes();
        }
    }
    EXPECT_EQ(g_destroyed, destroyedBefore + kIndexes)
        << "releasing the graphs must destroy every filter";

    // The oracle runs only now: the graphs have released the shared effect objects.
    for (int i = 0; i < kIndexes; ++i) {
        SCOPED_TRACE(testing::Message() << "recorder index " << i);
        size_t leadIn = 0;
        const std::vector<uint8_t> expected = RunStage(format, i, voice, pieces[i], &leadIn);
        // Every selected effect goes through the FIFO at these formats, so the comparison
        // covers the lead-in and the drained tail, not just a pass-through.
        EXPECT_EQ(leadIn > 0, i != 0);
        EXPECT_TRUE(received[i] == expected);
    }
    DeleteFileA(wav.c_str());
}

INSTANTIATE_TEST_SUITE_P(Formats, VoiceEffectGraphTest,
                         ::testing::Values(FormatCase{1, 44100, 10}, FormatCase{2, 44100, 10},
                                           FormatCase{1, 22050, 10}, FormatCase{1, 44100, 500},
                                           FormatCase{2, 44100, 500}, FormatCase{1, 22050, 500}));

class VoiceEffectFilterTest : public ::testing::Test {
  protected:
    ComApartment com_;
};

// Only audio connects; a wave format becomes the stream's format, on every new connection,
// and audio without a format block leaves the last one as it was.
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
