// Graph assembly pieces in the platform's real filter graph that the recordings cannot reach:
// pin matching against filters whose pins refuse or accept, the file sink's name and mode
// (Wine's file writer cannot report them), and filters a module or class cannot make. Device
// lookup and the working chain are checked by the recordings themselves.
#include <gtest/gtest.h>

#include <windows.h>

#include <uuids.h>

#include <string>

#include "capture/win/capture_graph.h"
#include "filter/win/voice_effect_filter.h"
#include "graph_helpers.h"
#include "streaming/win/base_filter.h"
#include "streaming/win/base_pins.h"
#include "streaming/win/media_type.h"
#include "virtual_mic/virtual_mic_ids.h"

using namespace qm;

namespace {

// An output pin that offers and accepts one major type only.
class OfferingPin final : public BaseOutputPin {
  public:
    OfferingPin(BaseFilter* filter, const wchar_t* name, bool audio)
        : BaseOutputPin(filter, name), audio_(audio) {}

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override {
        return IsEqualGUID(type.majortype, audio_ ? MEDIATYPE_Audio : MEDIATYPE_Video)
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, MediaType* type) override {
        if (position != 0) {
            return VFW_S_NO_MORE_ITEMS;
        }
        MediaType offered = MakePcmMediaType(1, 44100, 16);
        if (!audio_) {
            AM_MEDIA_TYPE video = offered.Get();
            video.majortype = MEDIATYPE_Video;
            offered.Assign(video);
        }
        *type = offered;
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES&) override {
        ALLOCATOR_PROPERTIES wanted{2, 4410, 1, 0};
        ALLOCATOR_PROPERTIES actual{};
        return allocator->SetProperties(&wanted, &actual);
    }

  private:
    bool audio_;
};

// A source with a video output first and an audio output second.
class TwoPinSource final : public BaseFilter {
  public:
    TwoPinSource()
        : BaseFilter(L"Two Pins", nullptr, GUID_NULL),
          video_(this, L"Video", false),
          audio_(this, L"Audio", true) {}
    int PinCount() override { return 2; }
    BasePin* GetPin(int index) override {
        return index == 0 ? static_cast<BasePin*>(&video_) : index == 1 ? &audio_ : nullptr;
    }
    OfferingPin video_;
    OfferingPin audio_;
};

// A file sink that records what it is told; it answers the second-generation interface only
// when asked to. (Wine's own file writer cannot report its file name or mode.)
class FakeFileSink final : public BaseFilter, public IFileSinkFilter2 {
  public:
    explicit FakeFileSink(bool offersSecond)
        : BaseFilter(L"Fake Sink", nullptr, GUID_NULL), offersSecond_(offersSecond) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return BaseFilter::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return BaseFilter::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return BaseFilter::Release(); }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (IsEqualGUID(iid, IID_IFileSinkFilter) ||
            (offersSecond_ && IsEqualGUID(iid, IID_IFileSinkFilter2))) {
            return ReturnInterface(static_cast<IFileSinkFilter2*>(this), out);
        }
        return BaseFilter::NonDelegatingQueryInterface(iid, out);
    }
    HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE* type) override {
        fileName = name;
        typeGiven = type != nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR*, AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetMode(DWORD flags) override {
        mode = flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMode(DWORD* flags) override {
        *flags = mode;
        return S_OK;
    }
    int PinCount() override { return 0; }
    BasePin* GetPin(int) override { return nullptr; }

    std::wstring fileName;
    bool typeGiven = false;
    DWORD mode = 0xffff;

  private:
    bool offersSecond_;
};

ComPtr<IBaseFilter> NewEffectFilter() {
    HRESULT hr = S_OK;
    VoiceEffectFilter* filter = VoiceEffectFilter::CreateInstance(nullptr, &hr);
    ComPtr<IBaseFilter> result;
    if (filter != nullptr) {
        filter->NonDelegatingQueryInterface(IID_IBaseFilter, result.PutVoid());
    }
    return result;
}

bool IsConnected(IPin* pin) {
    ComPtr<IPin> peer;
    pin->ConnectedTo(peer.Put());
    return static_cast<bool>(peer);
}

class CaptureGraphTest : public ::testing::Test {
  protected:
    ComApartment com_;
};

TEST_F(CaptureGraphTest, ConnectsTheFirstOutputPinTheDownstreamFilterAccepts) {
    FilterGraph graph = CreateFilterGraph();
    ASSERT_TRUE(graph.builder);
    auto* source = new TwoPinSource();
    ComPtr<IBaseFilter> sourceFilter(source);
    ComPtr<IBaseFilter> effects = NewEffectFilter();
    ComPtr<IBaseFilter> second = NewEffectFilter();
    ASSERT_TRUE(effects && second);
    // Not in a graph yet: nothing to connect in.
    EXPECT_EQ(ConnectFilters(sourceFilter.Get(), effects.Get()), 0);
    ASSERT_EQ(graph.builder->AddFilter(sourceFilter.Get(), L"Source"), S_OK);
    ASSERT_EQ(graph.builder->AddFilter(effects.Get(), L"Audio Effects"), S_OK);
    ASSERT_EQ(graph.builder->AddFilter(second.Get(), L"Second"), S_OK);

    // The effect stage takes audio only: the video pin is refused, the audio pin connects.
    EXPECT_EQ(ConnectFilters(sourceFilter.Get(), effects.Get()), 1);
    EXPECT_FALSE(IsConnected(&source->video_));
    EXPECT_TRUE(IsConnected(&source->audio_));
    // The audio pin is taken now and the video pin still refused: no pair is left.
    EXPECT_EQ(ConnectFilters(sourceFilter.Get(), second.Get()), 0);
    ComPtr<IGraphBuilder> found;
    ASSERT_EQ(GraphFromFilter(effects.Get(), &found), S_OK);
    EXPECT_EQ(found.Get(), graph.builder.Get());
    EXPECT_EQ(ConnectFilters(nullptr, effects.Get()), 0);
    EXPECT_EQ(ConnectFilters(sourceFilter.Get(), nullptr), 0);
}

// The successes are the recordings' own graphs; here, the refusals.
TEST_F(CaptureGraphTest, MakesFiltersOnlyFromWhatServesTheClass) {
    FilterGraph graph = CreateFilterGraph();
    ComPtr<IBaseFilter> none;
    EXPECT_EQ(AddFilterByClsid(graph.builder.Get(), CLSID_PravikAudioEncoder, "Nothing", &none), 0);
    EXPECT_FALSE(none);

    EXPECT_FALSE(CreateFilterFromModule(nullptr, kVirtualMicClsid));
    // kernel32 exports no class factory entry.
    EXPECT_FALSE(CreateFilterFromModule(GetModuleHandleA("kernel32.dll"), kVirtualMicClsid));

    HMODULE mic = LoadLibraryA(QUILLMAR_VMIC_DLL);
    ASSERT_NE(mic, nullptr);
    EXPECT_FALSE(CreateFilterFromModule(mic, CLSID_PravikAudioEncoder));
    {
        ComPtr<IBaseFilter> filter = CreateFilterFromModule(mic, kVirtualMicClsid);
        ASSERT_TRUE(filter);
        CLSID clsid{};
        ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
        EXPECT_TRUE(IsEqualCLSID(clsid, kVirtualMicClsid));
    }
    FreeLibrary(mic);
}

TEST_F(CaptureGraphTest, PointsTheFileSinkAtThePathInOverwriteMode) {
    const char* path = "C:\\Rec\\Aud2013_02_08_09-05-03.mp3";
    auto* second = new FakeFileSink(true);
    ComPtr<IBaseFilter> secondFilter(second);
    SetOutputFile(secondFilter.Get(), path);
    EXPECT_EQ(second->fileName, L"C:\\Rec\\Aud2013_02_08_09-05-03.mp3");
    EXPECT_FALSE(second->typeGiven);
    EXPECT_EQ(second->mode, static_cast<DWORD>(AM_FILE_OVERWRITE));

    // Without the second-generation interface the sink still gets the name.
    auto* first = new FakeFileSink(false);
    ComPtr<IBaseFilter> firstFilter(first);
    SetOutputFile(firstFilter.Get(), path);
    EXPECT_EQ(first->fileName, L"C:\\Rec\\Aud2013_02_08_09-05-03.mp3");
    EXPECT_EQ(first->mode, 0xffffu);

    SetOutputFile(nullptr, path);
    SetOutputFile(firstFilter.Get(), nullptr);
    EXPECT_EQ(first->fileName, L"C:\\Rec\\Aud2013_02_08_09-05-03.mp3");
}

}  // namespace
