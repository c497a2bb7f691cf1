// "Audio Encoder" from Pravik.dll and the MP3 file stage in the platform's real filter graph:
// a PCM source of the test's own -> encoder -> MP3 file stage -> the platform's File Writer.
// The files stay behind, listed in cases.txt, for check_mp3_files.sh to decode on the Linux
// side with an independent decoder; here the file's frame grid and tag are checked in-process.
#include <gtest/gtest.h>

#include <windows.h>

#include <dshow.h>
#include <mmreg.h>
#include <uuids.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <numbers>
#include <string>
#include <utility>
#include <vector>

#include "encoder/mp3_frame.h"
#include "encoder/win/encoder_ids.h"
#include "encoder/win/mp3_stream_stage.h"
#include "graph_helpers.h"
#include "mp3_graph_helpers.h"
#include "streaming/win/base_filter.h"
#include "streaming/win/base_pins.h"
#include "streaming/win/media_type.h"

using namespace qm;

namespace {

class PcmSource;

class PcmSourcePin final : public BaseOutputPin {
  public:
    PcmSourcePin(BaseFilter* filter, MediaType type)
        : BaseOutputPin(filter, L"Out"), type_(std::move(type)) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override {
        return SameMediaType(type, type_.Get()) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, MediaType* type) override {
        if (position != 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        *type = type_;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES&) override {
        ALLOCATOR_PROPERTIES wanted{4, kBufferBytes, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }

    static constexpr long kBufferBytes = 20000;

  private:
    MediaType type_;
};

// A source that the test thread drives: every piece it pushes is delivered at once, and the
// end of the stream follows the last piece, so the whole chain has run when Push returns.
class PcmSource final : public BaseFilter {
  public:
    static ComPtr<IBaseFilter> Create(const MediaType& type, PcmSource** source) {
        auto* filter = new PcmSource(type);
        ComPtr<IBaseFilter> result;
        filter->NonDelegatingAddRef();
        filter->NonDelegatingQueryInterface(IID_IBaseFilter, result.PutVoid());
        filter->NonDelegatingRelease();
        *source = filter;
        return result;
    }

    int PinCount() override { return 1; }
    BasePin* GetPin(int index) override { return index == 0 ? &pin_ : nullptr; }

    // `announced`, when given, travels with the first piece as a type change; without
    // `endStream` the graph is left to be stopped mid-stream.
    HRESULT Push(const std::vector<uint8_t>& pcm, const std::vector<size_t>& pieces,
                 const AM_MEDIA_TYPE* announced = nullptr, bool endStream = true) {
        const WAVEFORMATEX* format = WaveFormatOf(pin_.CurrentMediaType().Get());
        size_t at = 0;
        for (size_t i = 0; at < pcm.size(); ++i) {
            const size_t n = std::min(pieces[i % pieces.size()], pcm.size() - at);
            ComPtr<IMediaSample> sample;
            if (HRESULT hr = pin_.Allocator()->GetBuffer(sample.Put(), nullptr, nullptr, 0);
                FAILED(hr)) {
                return hr;
            }
            BYTE* data = nullptr;
            sample->GetPointer(&data);
            std::copy_n(pcm.begin() + static_cast<std::ptrdiff_t>(at), n, data);
            sample->SetActualDataLength(static_cast<long>(n));
            REFERENCE_TIME start = DurationOfBytes(*format, at);
            REFERENCE_TIME stop = DurationOfBytes(*format, at + n);
            sample->SetTime(&start, &stop);
            sample->SetMediaType(i == 0 ? const_cast<AM_MEDIA_TYPE*>(announced) : nullptr);
            if (HRESULT hr = pin_.Deliver(sample.Get()); hr != S_OK) {
                return hr;
            }
            at += n;
        }
        return endStream ? pin_.DeliverEndOfStream() : S_OK;
    }

  private:
    explicit PcmSource(const MediaType& type)
        : BaseFilter(L"PCM Source", nullptr, GUID_NULL), pin_(this, type) {}

    PcmSourcePin pin_;
};

std::string OutputFolder() {
    char folder[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("QUILLMAR_MP3_OUT", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return TempFilePath("");
    }
    CreateDirectoryA(folder, nullptr);
    return std::string(folder) + "\\";
}

// PCM source -> "Audio Encoder" -> the MP3 file stage -> File Writer, as the recorder chains
// them. Releasing the object releases the graph, and the File Writer lets go of the file.
struct Mp3Chain {
    FilterGraph graph;
    PcmSource* source = nullptr;
    ComPtr<IBaseFilter> sourceFilter;
    ComPtr<IBaseFilter> encoder;
    ComPtr<IBaseFilter> stage;
    ComPtr<IBaseFilter> writer;
};

// Adds the filters under their names and connects each to the next; S_OK or the first failure.
HRESULT AddChain(IGraphBuilder* builder,
                 std::initializer_list<std::pair<IBaseFilter*, const wchar_t*>> filters) {
    IBaseFilter* previous = nullptr;
    for (const auto& [filter, name] : filters) {
        HRESULT hr = builder->AddFilter(filter, name);
        if (SUCCEEDED(hr) && previous != nullptr) {
            hr = ConnectDirect(builder, previous, filter);
        }
        if (hr != S_OK) {
            return hr;
        }
        previous = filter;
    }
    return S_OK;
}

// Makes and connects the chain writing `path`, with the tags the recorder gives the stage.
void BuildChain(Mp3Chain* chain, const MediaType& type, const std::string& path,
                const char* recorded = nullptr, const char* voice = nullptr) {
    chain->graph = CreateFilterGraph();
    ASSERT_TRUE(chain->graph.control);
    chain->sourceFilter = PcmSource::Create(type, &chain->source);
    chain->encoder = CreatePravikEncoder();
    ASSERT_TRUE(chain->encoder) << "Pravik.dll did not make the encoder";
    ASSERT_EQ(CreateMp3StreamStage(chain->stage.Put()), S_OK);
    chain->writer = CreateFileWriter(path);
    ASSERT_TRUE(chain->writer);
    ComPtr<IMp3RecordingTags> tags;
    ASSERT_EQ(chain->stage->QueryInterface(IID_IMp3RecordingTags, tags.PutVoid()), S_OK);
    const std::wstring widePath(path.begin(), path.end());
    ASSERT_EQ(tags->SetRecordingTags(widePath.c_str(), recorded, voice), S_OK);
    ASSERT_EQ(AddChain(chain->graph.builder.Get(), {{chain->sourceFilter.Get(), L"PCM Source"},
                                                    {chain->encoder.Get(), kMp3EncoderName},
                                                    {chain->stage.Get(), kMp3StreamStageName},
                                                    {chain->writer.Get(), L"File Writer"}}),
              S_OK);
}

struct ToneCase {
    uint16_t channels;
    uint32_t samplesPerSecHz;
    uint16_t bitsPerSample;
};

// Channel c plays kToneHz[c] for the body and kTailToneHz[c] for the last kTailSeconds, so the
// decoded file shows whether the end of the stream reached it.
constexpr double kSeconds = 1.5;
constexpr double kTailSeconds = 0.12;
constexpr double kToneHz[2] = {440.0, 660.0};
constexpr double kTailToneHz[2] = {880.0, 1320.0};

std::vector<uint8_t> MakeTones(const ToneCase& c, size_t frames) {
    const size_t bytesPerSample = c.bitsPerSample / 8;
    std::vector<uint8_t> pcm(frames * c.channels * bytesPerSample);
    const size_t tailStart = frames - static_cast<size_t>(kTailSeconds * c.samplesPerSecHz);
    for (size_t i = 0; i < frames; ++i) {
        for (size_t ch = 0; ch < c.channels; ++ch) {
            const double hz = i < tailStart ? kToneHz[ch] : kTailToneHz[ch];
            const double value = 0.5 * std::sin(2.0 * std::numbers::pi * hz *
                                                static_cast<double>(i) / c.samplesPerSecHz);
            uint8_t* out = pcm.data() + (i * c.channels + ch) * bytesPerSample;
            if (bytesPerSample == 1) {
                out[0] = static_cast<uint8_t>(std::lround(128.0 + 127.0 * value));
            } else {
                const auto s = static_cast<int16_t>(std::lround(32767.0 * value));
                out[0] = static_cast<uint8_t>(s & 0xff);
                out[1] = static_cast<uint8_t>((s >> 8) & 0xff);
            }
        }
    }
    return pcm;
}

constexpr char kRecorded[] = "2026-12-08T08:11:47";
constexpr char kVoice[] = "Male2Female; PitchShift=10; ToneShift=4";

// Every test here runs with COM on its thread.
template <typename Param>
class ComTest : public ::testing::TestWithParam<Param> {
  protected:
    ComApartment com_;
};
using Mp3GraphTest = ComTest<ToneCase>;

TEST_P(Mp3GraphTest, WritesAnMp3FileWhoseTagCountsEveryFrame) {
    const ToneCase c = GetParam();
    char name[64];
    std::snprintf(name, sizeof(name), "tone_%uch_%uhz_%ubit.mp3", c.channels, c.samplesPerSecHz,
                  c.bitsPerSample);
    const std::string folder = OutputFolder();
    const std::string path = folder + name;
    const size_t frames = static_cast<size_t>(kSeconds * c.samplesPerSecHz);
    const std::vector<uint8_t> pcm = MakeTones(c, frames);
    {
        Mp3Chain chain;
        ASSERT_NO_FATAL_FAILURE(
            BuildChain(&chain, MakePcmMediaType(c.channels, c.samplesPerSecHz, c.bitsPerSample),
                       path, kRecorded, kVoice));
        // The encoder's output keeps the stream's rate and channel count.
        AM_MEDIA_TYPE type{};
        ASSERT_EQ(FirstPin(chain.encoder.Get(), PINDIR_OUTPUT)->ConnectionMediaType(&type), S_OK);
        const WAVEFORMATEX* wave = WaveFormatOf(type);
        EXPECT_TRUE(wave && wave->wFormatTag == WAVE_FORMAT_MPEGLAYER3 &&
                    wave->nChannels == c.channels && wave->nSamplesPerSec == c.samplesPerSecHz);
        FreeMediaTypeFields(type);

        ASSERT_TRUE(SUCCEEDED(chain.graph.control->Run()));
        // Pieces that split PCM frames and exceed one encoder chunk.
        EXPECT_EQ(chain.source->Push(pcm, {1, 333, 4096, 8191, 20000, 7}), S_OK);
        chain.graph.control->Stop();
    }

    const std::vector<uint8_t> file = ReadFileBytes(path);
    const TaggedMp3 mp3 = ReadTaggedMp3(file);
    ASSERT_TRUE(mp3.tag) << path << " does not start with an Info tag frame";
    EXPECT_TRUE(mp3.audio.InSync());
    ASSERT_TRUE(mp3.audio.First());
    EXPECT_EQ(mp3.audio.First()->SampleRateHz(), c.samplesPerSecHz);
    EXPECT_EQ(mp3.audio.First()->Channels(), c.channels);
    EXPECT_EQ(mp3.audio.First()->BitrateKbps(), c.samplesPerSecHz <= 12000 ? 64u : 128u);
    EXPECT_EQ(mp3.tag->frames, mp3.audio.Frames());
    EXPECT_EQ(mp3.tag->bytes, file.size() - mp3.id3Bytes);
    // The delay and padding leave exactly the input (mpg123 checks the decode on Linux).
    ASSERT_TRUE(mp3.tag->gapless && mp3.tag->tagCrcMatches);
    EXPECT_EQ(
        DecodedSamples(mp3.audio.Frames(), mp3.audio.First()->SamplesPerFrame(), *mp3.tag->gapless),
        frames);
    ASSERT_TRUE(mp3.id3);
    EXPECT_EQ(FindId3Text(*mp3.id3, "TIT2") + ".mp3", name);
    EXPECT_EQ(FindId3Text(*mp3.id3, "TDRC"), kRecorded);
    EXPECT_EQ(FindId3Text(*mp3.id3, "TSSE"), kRecorderSoftware);
    EXPECT_EQ(FindId3Text(*mp3.id3, "TXXX", kVoiceEffectDescription), kVoice);

    std::ofstream cases(folder + "cases.txt", std::ios::app);
    cases << name << ' ' << c.samplesPerSecHz << ' ' << c.channels << ' ' << frames << ' '
          << kTailSeconds << ' ' << kToneHz[0] << ' ' << kTailToneHz[0] << ' ' << kToneHz[1] << ' '
          << kTailToneHz[1] << '\n';
}

INSTANTIATE_TEST_SUITE_P(Formats, Mp3GraphTest,
                         ::testing::Values(ToneCase{2, 44100, 16}, ToneCase{1, 44100, 16},
                                           ToneCase{2, 48000, 8}, ToneCase{1, 32000, 16},
                                           ToneCase{2, 22050, 16}, ToneCase{1, 16000, 8},
                                           ToneCase{2, 11025, 16}, ToneCase{1, 8000, 16}));

// A graph stopped mid-stream (the window closed, the graph torn down) still leaves a complete
// header: the stage writes it into the file once the File Writer has closed it, counting the
// whole frames and claiming only what they decode to.
TEST_F(Mp3GraphTest, StoppedWithoutEndOfStreamTheHeaderCountsWhatWasWritten) {
    const ToneCase c{1, 44100, 16};
    const std::string path = TempFilePath("quillmar_cut.mp3");
    const size_t frames = 3 * c.samplesPerSecHz;
    {
        Mp3Chain chain;
        ASSERT_NO_FATAL_FAILURE(BuildChain(
            &chain, MakePcmMediaType(c.channels, c.samplesPerSecHz, c.bitsPerSample), path));
        ASSERT_TRUE(SUCCEEDED(chain.graph.control->Run()));
        EXPECT_EQ(chain.source->Push(MakeTones(c, frames), {4410}, nullptr, false), S_OK);
        chain.graph.control->Stop();
    }
    const std::vector<uint8_t> file = ReadFileBytes(path);
    DeleteFileA(path.c_str());
    const TaggedMp3 mp3 = ReadTaggedMp3(file);
    ASSERT_TRUE(mp3.tag && mp3.tag->frames && mp3.tag->gapless && mp3.audio.First());
    EXPECT_TRUE(mp3.tag->tagCrcMatches);
    EXPECT_EQ(mp3.tag->bytes, file.size() - mp3.id3Bytes);
    EXPECT_EQ(*mp3.tag->frames, mp3.audio.WholeFrames());
    const uint64_t claimed = DecodedSamples(*mp3.tag->frames, 1152, *mp3.tag->gapless);
    EXPECT_LE(claimed, frames);
    EXPECT_GE(claimed + 3 * 1152 + 1105, frames);
}

// Input types the encoder must refuse at connection time, leaving both pins free.
MediaType Mutated(uint16_t channels, uint32_t rateHz, uint16_t bits,
                  void (*change)(AM_MEDIA_TYPE&, WAVEFORMATEX&)) {
    const MediaType pcm = MakePcmMediaType(channels, rateHz, bits);
    AM_MEDIA_TYPE type = pcm.Get();
    WAVEFORMATEX format = *WaveFormatOf(pcm.Get());
    type.pbFormat = reinterpret_cast<BYTE*>(&format);
    type.cbFormat = sizeof(format);
    type.pUnk = nullptr;
    if (change != nullptr) {
        change(type, format);
    }
    return MediaType(type);
}

struct RefusalCase {
    const char* what;
    uint16_t channels;
    uint32_t rateHz;
    uint16_t bits;
    void (*change)(AM_MEDIA_TYPE&, WAVEFORMATEX&);
};

using EncoderRefusalTest = ComTest<RefusalCase>;

TEST_P(EncoderRefusalTest, RefusesTheConnectionCleanly) {
    const RefusalCase c = GetParam();
    SCOPED_TRACE(c.what);
    FilterGraph graph = CreateFilterGraph();
    ASSERT_TRUE(graph.control);
    PcmSource* source = nullptr;
    ComPtr<IBaseFilter> sourceFilter =
        PcmSource::Create(Mutated(c.channels, c.rateHz, c.bits, c.change), &source);
    ComPtr<IBaseFilter> encoder = CreatePravikEncoder();
    ASSERT_TRUE(encoder);
    EXPECT_TRUE(FAILED(AddChain(graph.builder.Get(), {{sourceFilter.Get(), L"PCM Source"},
                                                      {encoder.Get(), kMp3EncoderName}})));
    ComPtr<IPin> in = FirstPin(encoder.Get(), PINDIR_INPUT);
    ComPtr<IPin> peer;
    EXPECT_EQ(in->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);
    // With no input, the output offers nothing.
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(FirstPin(encoder.Get(), PINDIR_OUTPUT)->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* offered = nullptr;
    EXPECT_EQ(types->Next(1, &offered, nullptr), S_FALSE);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, EncoderRefusalTest,
    ::testing::Values(
        // The encoder's PCM check (tested on its own) keeps the connection, then what the
        // media type must carry.
        RefusalCase{"24-bit", 2, 44100, 24, nullptr}, RefusalCase{"96 kHz", 2, 96000, 16, nullptr},
        RefusalCase{"float", 1, 44100, 32,
                    [](AM_MEDIA_TYPE& t, WAVEFORMATEX& f) {
                        t.subtype = MEDIASUBTYPE_IEEE_FLOAT;
                        f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
                    }},
        RefusalCase{"PCM subtype, float tag", 1, 44100, 16,
                    [](AM_MEDIA_TYPE&, WAVEFORMATEX& f) { f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT; }},
        RefusalCase{"short format block", 1, 44100, 16,
                    [](AM_MEDIA_TYPE& t, WAVEFORMATEX&) { t.cbFormat = 10; }},
        RefusalCase{"no format block", 1, 44100, 16,
                    [](AM_MEDIA_TYPE& t, WAVEFORMATEX&) {
                        t.formattype = FORMAT_None;
                        t.cbFormat = 0;
                        t.pbFormat = nullptr;
                    }},
        RefusalCase{"block alignment", 2, 44100, 16,
                    [](AM_MEDIA_TYPE&, WAVEFORMATEX& f) { f.nBlockAlign = 3; }},
        RefusalCase{"video", 1, 44100, 16,
                    [](AM_MEDIA_TYPE& t, WAVEFORMATEX&) { t.majortype = MEDIATYPE_Video; }}));

// A type change inside the stream cannot be followed by the encoder's settled output; the
// connection's own type announced again is no change.
TEST_F(Mp3GraphTest, RefusesAnotherTypeAnnouncedInTheStream) {
    const MediaType connected = MakePcmMediaType(1, 44100, 16);
    const MediaType other = MakePcmMediaType(1, 22050, 16);
    const std::string path = TempFilePath("quillmar_type_change.mp3");
    for (const MediaType* announced : {&other, &connected}) {
        Mp3Chain chain;
        ASSERT_NO_FATAL_FAILURE(BuildChain(&chain, connected, path));
        ASSERT_TRUE(SUCCEEDED(chain.graph.control->Run()));
        const std::vector<uint8_t> pcm(8820, 0);
        EXPECT_EQ(chain.source->Push(pcm, {4410}, &announced->Get()),
                  announced == &other ? VFW_E_INVALIDMEDIATYPE : S_OK);
        chain.graph.control->Stop();
    }
    DeleteFileA(path.c_str());
}

using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

using PravikTest = ComTest<int>;

TEST_F(PravikTest, ServesItsTwoClassesAndStaysLoadedWhileOneLives) {
    ASSERT_NE(PravikModule(), nullptr);
    auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(PravikModule(), "DllCanUnloadNow")));
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);
    {
        ComPtr<IBaseFilter> encoder = CreatePravikEncoder();
        ASSERT_TRUE(encoder);
        CLSID clsid{};
        EXPECT_EQ(encoder->GetClassID(&clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, kMp3EncoderClsid));
        ComPtr<IBaseFilter> stage;
        ASSERT_EQ(CreateFromPravik(kMp3StreamStageClsid, nullptr, IID_IBaseFilter, stage.PutVoid()),
                  S_OK);
        EXPECT_EQ(canUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(canUnloadNow(), S_OK);

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(CreateFromPravik(GUID_NULL, nullptr, IID_IBaseFilter, unknown.PutVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(unknown);
    // An aggregating caller must ask for the inner IUnknown.
    IUnknown* outer = reinterpret_cast<IUnknown*>(&unknown);
    EXPECT_EQ(CreateFromPravik(kMp3EncoderClsid, outer, IID_IBaseFilter, unknown.PutVoid()),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(PravikTest, TheFileStageRefusesPcm) {
    FilterGraph graph = CreateFilterGraph();
    ASSERT_TRUE(graph.control);
    PcmSource* source = nullptr;
    ComPtr<IBaseFilter> sourceFilter = PcmSource::Create(MakePcmMediaType(2, 44100, 16), &source);
    ComPtr<IBaseFilter> stage;
    ASSERT_EQ(CreateMp3StreamStage(stage.Put()), S_OK);
    EXPECT_EQ(CreateMp3StreamStage(nullptr), E_POINTER);
    EXPECT_TRUE(FAILED(AddChain(graph.builder.Get(), {{sourceFilter.Get(), L"PCM Source"},
                                                      {stage.Get(), kMp3StreamStageName}})));
}

// An encoder whose input was never connected (the recorder does not check every connection)
// must not keep the graph from completing: the file gets a tag frame counting no audio.
TEST_F(PravikTest, AnUnfedEncoderEndsTheStreamAtOnce) {
    const std::string path = TempFilePath("quillmar_unfed.mp3");
    DeleteFileA(path.c_str());
    {
        // The encoder's output needs an input type to offer one, so it is given one first.
        Mp3Chain chain;
        ASSERT_NO_FATAL_FAILURE(BuildChain(&chain, MakePcmMediaType(1, 22050, 16), path));
        IGraphBuilder* builder = chain.graph.builder.Get();
        ASSERT_EQ(builder->RemoveFilter(chain.sourceFilter.Get()), S_OK);

        ASSERT_TRUE(SUCCEEDED(chain.graph.control->Run()));
        ComPtr<IMediaEvent> events;
        ASSERT_EQ(builder->QueryInterface(IID_IMediaEvent, events.PutVoid()), S_OK);
        long code = 0;
        EXPECT_EQ(events->WaitForCompletion(10000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
        chain.graph.control->Stop();
    }
    const std::vector<uint8_t> file = ReadFileBytes(path);
    const TaggedMp3 mp3 = ReadTaggedMp3(file);
    ASSERT_TRUE(mp3.tag);
    EXPECT_EQ(mp3.audio.Bytes(), 0u) << "only the tag frame belongs in the file";
    EXPECT_EQ(mp3.tag->frames, 0u);
    EXPECT_EQ(mp3.tag->bytes, file.size() - mp3.id3Bytes);
    DeleteFileA(path.c_str());
}

}  // namespace
