// The in-place transform base in the platform's real filter graph: virtual microphone ->
// a delaying, inverting test filter -> capture sink. The expected output is a trivially
// correct model: the input, bit-inverted, behind a fixed number of silent bytes.
#include <gtest/gtest.h>

#include <windows.h>

#include <uuids.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "capture_sink.h"
#include "graph_helpers.h"
#include "streaming/win/in_place_filter.h"
#include "streaming/win/media_type.h"

using namespace qm;

namespace {

std::atomic<int> g_destroyed{0};

// {5E0C8A4D-1B7F-4C62-A0E3-9D24F61B8C17}
constexpr CLSID kDelayInvertClsid = {
    0x5e0c8a4d, 0x1b7f, 0x4c62, {0xa0, 0xe3, 0x9d, 0x24, 0xf6, 0x1b, 0x8c, 0x17}};

// Inverts every byte and delays the stream by kDelayBytes, holding them back in a ring;
// the held bytes are what an early end of stream must still deliver.
class DelayInvertFilter final : public TransformInPlaceFilter {
  public:
    static constexpr size_t kDelayBytes = 6000;

    explicit DelayInvertFilter(IUnknown* outer)
        : TransformInPlaceFilter(L"Delay Invert", outer, kDelayInvertClsid, true),
          ring_(kDelayBytes, 0) {}
    ~DelayInvertFilter() override { ++g_destroyed; }

    HRESULT CheckInputType(const AM_MEDIA_TYPE& type) override {
        return IsEqualGUID(type.majortype, MEDIATYPE_Audio) ? S_OK : E_INVALIDARG;
    }
    HRESULT CheckTransform(const AM_MEDIA_TYPE&, const AM_MEDIA_TYPE&) override { return S_OK; }
    HRESULT Transform(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        for (long i = 0; i < length; ++i) {
            const uint8_t in = static_cast<uint8_t>(~data[i]);
            data[i] = ring_[position_];
            ring_[position_] = in;
            position_ = (position_ + 1) % kDelayBytes;
        }
        held_ = kDelayBytes;
        return S_OK;
    }
    uint32_t DrainHeld(uint8_t* data, uint32_t capacity) override {
        const uint32_t count = static_cast<uint32_t>(std::min<size_t>(capacity, held_));
        for (uint32_t i = 0; i < count; ++i) {
            data[i] = ring_[position_];
            position_ = (position_ + 1) % kDelayBytes;
        }
        held_ -= count;
        return count;
    }

  private:
    std::vector<uint8_t> ring_;
    size_t position_ = 0;
    size_t held_ = 0;
};

ComPtr<IBaseFilter> MakeDelayInvert(DelayInvertFilter** raw = nullptr) {
    auto* filter = new DelayInvertFilter(nullptr);
    if (raw != nullptr) {
        *raw = filter;
    }
    ComPtr<IBaseFilter> result;
    filter->NonDelegatingQueryInterface(IID_IBaseFilter, result.PutVoid());
    return result;
}

std::vector<uint8_t> ExpectedOutput(const Pcm16Audio& voice, size_t inputBytes) {
    std::vector<uint8_t> expected(DelayInvertFilter::kDelayBytes, 0);
    for (uint8_t byte : LoopedBytes(voice, inputBytes)) {
        expected.push_back(static_cast<uint8_t>(~byte));
    }
    return expected;
}

struct GraphCase {
    uint32_t bufferMs;
    SinkAllocatorMode sinkMode;
    // The input is connected again while the output stays connected, as when the capture
    // device changes: upstream is then handed the allocator already settled downstream.
    bool reconnectInput;
};

class InPlaceGraphTest : public ::testing::TestWithParam<GraphCase> {
  protected:
    ComApartment com_;
};

TEST_P(InPlaceGraphTest, DeliversEveryByteTransformedThenTheHeldTailAndOneEndOfStream) {
    const GraphCase param = GetParam();
    const Pcm16Audio voice = MakeTestVoice(2, 22050, 0.4, 7);
    const ScratchWav wav("quillmar_streaming_voice.wav", voice);
    ASSERT_TRUE(wav.Written());

    const int destroyedBefore = g_destroyed;
    {
        DelayInvertFilter* inPlace = nullptr;
        MicGraph rig;
        ASSERT_EQ(rig.Add(wav.Path(), param.bufferMs, MakeDelayInvert(&inPlace), param.sinkMode),
                  S_OK);
        // The output carries the input's type, so it cannot connect before the input.
        ASSERT_TRUE(
            FAILED(ConnectDirect(rig.graph.builder.Get(), rig.middle.Get(), rig.sinkFilter.Get())));
        ASSERT_EQ(rig.Connect(), S_OK);
        if (param.reconnectInput) {
            ASSERT_EQ(rig.ReconnectInput(), S_OK);
        }
        CaptureSink* sink = rig.sink;

        // Past the delay and past one loop of the file, so that the loop point is checked.
        const size_t fileBytes = voice.samples.size() * 2;
        ASSERT_TRUE(SUCCEEDED(rig.graph.control->Run()));
        ASSERT_TRUE(sink->WaitForBytes(DelayInvertFilter::kDelayBytes + fileBytes + 4000, 20000));

        ASSERT_EQ(inPlace->EndStream(), S_OK);
        ASSERT_TRUE(sink->WaitForEndOfStream(5000));
        EXPECT_EQ(inPlace->EndStream(), S_FALSE) << "the stream can end only once";
        // The microphone keeps sending until it is stopped; nothing more may get through.
        Sleep(3 * param.bufferMs);
        rig.graph.control->Stop();

        const std::vector<uint8_t> bytes = sink->Received().bytes;
        ASSERT_GT(bytes.size(), DelayInvertFilter::kDelayBytes);
        const size_t inputBytes = bytes.size() - DelayInvertFilter::kDelayBytes;
        EXPECT_TRUE(bytes == ExpectedOutput(voice, inputBytes));
        EXPECT_EQ(sink->Received().endOfStreams, 1);
        // Whole frames in every delivered sample, the tail included.
        for (long length : sink->Received().lengths) {
            EXPECT_EQ(length % 4, 0);
        }
        // A sink that insists on its own buffers gets copies; otherwise the microphone's
        // buffers travel through untouched by any copy.
        for (long size : sink->Received().bufferSizes) {
            EXPECT_EQ(size == kSinkOwnBufferBytes, param.sinkMode == SinkAllocatorMode::kOwnOnly);
        }

        // A second run on the same graph starts a fresh stream.
        sink->Clear();
        ASSERT_TRUE(SUCCEEDED(rig.graph.control->Run()));
        ASSERT_TRUE(sink->WaitForBytes(DelayInvertFilter::kDelayBytes + 8000, 20000));
        rig.graph.control->Stop();
        EXPECT_EQ(sink->Received().endOfStreams, 0);

        rig.middle = nullptr;
        EXPECT_EQ(g_destroyed, destroyedBefore) << "the graph still holds the filter";
    }
    EXPECT_EQ(g_destroyed, destroyedBefore + 1) << "releasing the graph must free the filter";
}

INSTANTIATE_TEST_SUITE_P(BuffersAndAllocators, InPlaceGraphTest,
                         ::testing::Values(GraphCase{10, SinkAllocatorMode::kTakeUpstreams, false},
                                           GraphCase{10, SinkAllocatorMode::kOwnOnly, false},
                                           GraphCase{500, SinkAllocatorMode::kTakeUpstreams, false},
                                           GraphCase{500, SinkAllocatorMode::kOwnOnly, false},
                                           GraphCase{10, SinkAllocatorMode::kTakeUpstreams, true},
                                           GraphCase{10, SinkAllocatorMode::kOwnOnly, true}));

class InPlaceConnectionTest : public ::testing::Test {
  protected:
    ComApartment com_;
};

TEST_F(InPlaceConnectionTest, RefusalOfTheInputTypeIsPassedBackUnchangedAndLeavesThePinFree) {
    const std::string wav = TempFilePath("quillmar_missing_file.wav");
    ComPtr<IBaseFilter> mic = BindVirtualMic(wav, 10);
    ASSERT_TRUE(mic);
    ComPtr<IBaseFilter> filter = MakeDelayInvert();
    ComPtr<IPin> micOut = FirstPin(mic.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> input;
    ASSERT_EQ(filter->FindPin(L"Input", input.Put()), S_OK);

    AM_MEDIA_TYPE video{};
    video.majortype = MEDIATYPE_Video;
    EXPECT_EQ(input->ReceiveConnection(micOut.Get(), &video), E_INVALIDARG);
    EXPECT_EQ(input->QueryAccept(&video), S_FALSE);
    ComPtr<IPin> peer;
    EXPECT_EQ(input->ConnectedTo(peer.Put()), VFW_E_NOT_CONNECTED);

    // The output offers nothing until the input has a type, then exactly that type.
    ComPtr<IPin> output;
    ASSERT_EQ(filter->FindPin(L"Output", output.Put()), S_OK);
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(output->EnumMediaTypes(types.Put()), S_OK);
    AM_MEDIA_TYPE* offered = nullptr;
    EXPECT_EQ(types->Next(1, &offered, nullptr), S_FALSE);

    const MediaType pcm = MakePcmMediaType(1, 44100, 16);
    ASSERT_EQ(input->ReceiveConnection(micOut.Get(), &pcm.Get()), S_OK);
    ASSERT_EQ(output->EnumMediaTypes(types.Put()), S_OK);
    ASSERT_EQ(types->Next(1, &offered, nullptr), S_OK);
    EXPECT_TRUE(SameMediaType(*offered, pcm.Get()));
    DeleteMediaType(offered);
    EXPECT_EQ(input->Disconnect(), S_OK);
}

TEST_F(InPlaceConnectionTest, FlushAndUpstreamEndOfStreamPassDownstreamOnce) {
    DelayInvertFilter* inPlace = nullptr;
    MicGraph rig;
    ASSERT_EQ(rig.Build(TempFilePath("quillmar_missing_file.wav"), 10, MakeDelayInvert(&inPlace)),
              S_OK);
    CaptureSink* sink = rig.sink;
    ComPtr<IBaseFilter> filter = rig.middle;
    ASSERT_TRUE(SUCCEEDED(rig.graph.control->Run()));
    ASSERT_TRUE(sink->WaitForBytes(1764, 20000));

    ComPtr<IPin> input;
    ASSERT_EQ(filter->FindPin(L"Input", input.Put()), S_OK);
    EXPECT_EQ(input->BeginFlush(), S_OK);
    EXPECT_TRUE(sink->Flushing());
    EXPECT_EQ(input->EndFlush(), S_OK);
    EXPECT_FALSE(sink->Flushing());

    EXPECT_EQ(input->EndOfStream(), S_OK);
    EXPECT_EQ(input->EndOfStream(), S_OK);
    EXPECT_EQ(sink->Received().endOfStreams, 1);
    EXPECT_EQ(inPlace->EndStream(), S_FALSE) << "the stream has already ended";
    rig.graph.control->Stop();
    EXPECT_EQ(inPlace->EndStream(), VFW_E_WRONG_STATE);
}

// An outer object that aggregates the filter: every interface of the filter must answer
// for the outer identity and count on the outer's references.
class Outer final : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }

    ULONG references_ = 1;
    ComPtr<IUnknown> inner_;
};

TEST_F(InPlaceConnectionTest, AnAggregatedFilterAnswersForItsOuterObject) {
    const int destroyedBefore = g_destroyed;
    Outer outer;
    auto* filter = new DelayInvertFilter(&outer);
    ASSERT_EQ(filter->NonDelegatingQueryInterface(IID_IUnknown, outer.inner_.PutVoid()), S_OK);
    {
        ComPtr<IBaseFilter> base;
        ASSERT_EQ(outer.QueryInterface(IID_IBaseFilter, base.PutVoid()), S_OK);
        EXPECT_EQ(outer.references_, 2u) << "the reference belongs to the outer object";
        ComPtr<IUnknown> identity;
        ASSERT_EQ(base->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
        EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer));
        // A pin hands out its filter, which must count on the outer object too.
        ComPtr<IPin> pin;
        ASSERT_EQ(base->FindPin(L"Output", pin.Put()), S_OK);
        PIN_INFO info{};
        const ULONG before = outer.references_;
        ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(outer.references_, before + 1);
        info.pFilter->Release();
    }
    EXPECT_EQ(outer.references_, 1u);
    EXPECT_EQ(g_destroyed, destroyedBefore);
    outer.inner_ = nullptr;
    EXPECT_EQ(g_destroyed, destroyedBefore + 1);
}

}  // namespace
