// The recording chain as the recorder builds it, in the platform's filter graph: the virtual
// microphone -> "Audio Effects" -> "Audio Encoder" (Pravik.dll) -> the MP3 file stage -> File
// Writer. The recording is ended the recorder's way: EndStream on "Audio Effects", wait for
// the graph's completion, stop. The file must then be a whole MP3 stream whose tag counts it.
#include <gtest/gtest.h>

#include <windows.h>

#include <dshow.h>

#include <string>
#include <vector>

#include "encoder/mp3_frame.h"
#include "encoder/win/encoder_ids.h"
#include "encoder/win/mp3_stream_stage.h"
#include "filter/win/voice_effect_filter.h"
#include "graph_helpers.h"
#include "mp3_graph_helpers.h"

using namespace qm;

namespace {

class RecordingChainTest : public ::testing::TestWithParam<int> {
  protected:
    ComApartment com_;
};

TEST_P(RecordingChainTest, EndStreamLeavesAWholeTaggedMp3File) {
    const ScratchWav wav("quillmar_chain_voice.wav", MakeTestVoice(1, 44100, 1.0, 3));
    ASSERT_TRUE(wav.Written());
    const std::string path = TempFilePath("quillmar_chain.mp3");
    {
        FilterGraph graph = CreateFilterGraph();
        ASSERT_TRUE(graph.control);
        ComPtr<IBaseFilter> mic = BindVirtualMic(wav.Path(), 10);
        ASSERT_TRUE(mic) << "the virtual microphone is not registered";
        HRESULT created = E_FAIL;
        VoiceEffectFilter* voice = VoiceEffectFilter::CreateInstance(nullptr, &created);
        ASSERT_NE(voice, nullptr);
        ComPtr<IBaseFilter> effects;
        ASSERT_EQ(voice->NonDelegatingQueryInterface(IID_IBaseFilter, effects.PutVoid()), S_OK);
        voice->SelectEffect(GetParam(), 0);
        ComPtr<IBaseFilter> encoder = CreatePravikEncoder();
        ASSERT_TRUE(encoder);
        ComPtr<IBaseFilter> stage;
        ASSERT_EQ(CreateMp3StreamStage(stage.Put()), S_OK);
        ComPtr<IBaseFilter> writer = CreateFileWriter(path);
        ASSERT_TRUE(writer);

        IGraphBuilder* builder = graph.builder.Get();
        ASSERT_EQ(builder->AddFilter(mic.Get(), L"Audio Source"), S_OK);
        ASSERT_EQ(builder->AddFilter(encoder.Get(), kMp3EncoderName), S_OK);
        ASSERT_EQ(builder->AddFilter(effects.Get(), L"Audio Effects"), S_OK);
        ASSERT_EQ(builder->AddFilter(stage.Get(), kMp3StreamStageName), S_OK);
        ASSERT_EQ(builder->AddFilter(writer.Get(), L"File Writer"), S_OK);
        ASSERT_EQ(ConnectDirect(builder, mic.Get(), effects.Get()), S_OK);
        ASSERT_EQ(ConnectDirect(builder, effects.Get(), encoder.Get()), S_OK);
        ASSERT_EQ(ConnectDirect(builder, encoder.Get(), stage.Get()), S_OK);
        ASSERT_EQ(ConnectDirect(builder, stage.Get(), writer.Get()), S_OK);

        ASSERT_TRUE(SUCCEEDED(graph.control->Run()));
        // Record until about 30 frames (0.8 s) are on disk; the microphone plays in real time.
        constexpr uint64_t kWantedBytes = 30 * 418;
        for (int i = 0; i < 3000 && ReadFileBytes(path).size() < kWantedBytes; ++i) {
            Sleep(10);
        }
        ASSERT_GE(ReadFileBytes(path).size(), kWantedBytes);
        EXPECT_EQ(voice->EndStream(), S_OK);
        ComPtr<IMediaEvent> events;
        ASSERT_EQ(graph.builder->QueryInterface(IID_IMediaEvent, events.PutVoid()), S_OK);
        long code = 0;
        EXPECT_EQ(events->WaitForCompletion(30000, &code), S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
        graph.control->Stop();
    }
    const std::vector<uint8_t> file = ReadFileBytes(path);
    const TaggedMp3 mp3 = ReadTaggedMp3(file);
    ASSERT_TRUE(mp3.tag);
    EXPECT_TRUE(mp3.audio.InSync());
    EXPECT_GE(mp3.audio.Frames(), 30u);
    EXPECT_EQ(mp3.tag->frames, mp3.audio.Frames());
    EXPECT_EQ(mp3.tag->bytes, file.size() - mp3.id3Bytes);
    DeleteFileA(path.c_str());
}

// No effect, and an effect whose block FIFO holds audio that EndStream must drain.
INSTANTIATE_TEST_SUITE_P(Effects, RecordingChainTest, ::testing::Values(0, 1));

}  // namespace
