#pragma once

#include <windows.h>

#include <strmif.h>

#include <cstdint>
#include <span>
#include <string>

#include "encoder/mp3_file.h"
#include "streaming/win/transform_filter.h"

namespace qm {

// {3E0C5B71-9A2D-4F4B-8C61-7D2B0E5A9C14}
inline constexpr IID IID_IMp3RecordingTags = {
    0x3e0c5b71, 0x9a2d, 0x4f4b, {0x8c, 0x61, 0x7d, 0x2b, 0x0e, 0x5a, 0x9c, 0x14}};

// What the recorder tells the file stage about the recording before the graph runs.
struct IMp3RecordingTags : public IUnknown {
    // Any may be null. `path`: the file the File Writer writes (null: the one its
    // IFileSinkFilter names, where it tells), which gives the title and which the stage
    // completes after a stop without end-of-stream. UTF-8: the recording's start
    // "YYYY-MM-DDThh:mm:ss" (null: the local time when streaming starts) and the voice recipe
    // (FormatVoiceRecipe; null: none written). Applies to the next file the stage starts.
    // E_OUTOFMEMORY when the text cannot be kept.
    virtual HRESULT STDMETHODCALLTYPE SetRecordingTags(const wchar_t* path, const char* recorded,
                                                       const char* voice) = 0;

  protected:
    ~IMp3RecordingTags() = default;
};

}  // namespace qm

// The interface's identifier for __uuidof, declared where the compiler's template lives.
__CRT_UUID_DECL(qm::IMp3RecordingTags, 0x3e0c5b71, 0x9a2d, 0x4f4b, 0x8c, 0x61, 0x7d, 0x2b, 0x0e,
                0x5a, 0x9c, 0x14)

namespace qm {

// The MP3 file stage: sits between the encoder and the platform's File Writer and turns the
// encoder's Layer III frames into the byte stream of an .mp3 file. Input: MEDIATYPE_Audio /
// MP3 subtype with a wave format (tag 0x0055) at a Layer III rate, mono or stereo; an
// MPEGLAYER3WAVEFORMAT's nCodecDelay is taken as the encoder's delay, and the media times of
// its samples as the PCM samples the encoder took. Output: MEDIATYPE_Stream, whose samples
// carry their byte offset in the file as start and stop times, which is where the File Writer
// puts them.
//
// The file starts with an ID3v2.4 tag (title from the file's name, recording time, encoder,
// voice recipe) and an "Info" tag frame with the LAME extension: a placeholder when the first
// frames arrive, rewritten when the stream ends with the number of frames and bytes, the
// encoder's delay and the padding, so that players show the right duration and decoders give
// back exactly the samples encoded. End-of-stream follows the rewrite. When the graph stops
// without end-of-stream, the stage writes the final Info frame into the file itself once the
// File Writer has let go of it, claiming only the audio the frames decode to.
class Mp3StreamStage : public TransformFilter, public IMp3RecordingTags {
  public:
    explicit Mp3StreamStage(IUnknown* outer);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return Outer()->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Outer()->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Outer()->Release(); }
    HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) override;
    HRESULT STDMETHODCALLTYPE SetRecordingTags(const wchar_t* path, const char* recorded,
                                               const char* voice) override;

    HRESULT CheckInputType(const AM_MEDIA_TYPE& type) override;
    HRESULT CheckTransform(const AM_MEDIA_TYPE& input, const AM_MEDIA_TYPE& output) override;
    HRESULT GetOutputType(const AM_MEDIA_TYPE& input, int position, MediaType* type) override;
    HRESULT DecideBufferSize(IMemAllocator* allocator,
                             const ALLOCATOR_PROPERTIES& request) override;
    HRESULT StartStreaming() override;
    void StopStreaming() override;
    HRESULT ProcessSample(IMediaSample* sample) override;
    HRESULT FinishStream() override;

  private:
    static constexpr long kBufferBytes = 16384;

    HRESULT DeliverBytes(std::span<const uint8_t> bytes, uint64_t offset);

    Mp3FileHead head_;
    bool headWritten_ = false;
    bool finished_ = false;
    // The File Writer's file, for the rewrite after a stop without end-of-stream.
    std::wstring filePath_;
    // Guarded by the filter lock.
    std::wstring path_;
    std::string recorded_;
    std::string voice_;
};

// Makes the MP3 file stage in-process, with one reference for the caller in `*out`.
// E_POINTER when `out` is null, E_OUTOFMEMORY when it cannot be made. Add it to the graph as
// kMp3StreamStageName, between "Audio Encoder" and the File Writer.
HRESULT CreateMp3StreamStage(IBaseFilter** out);

}  // namespace qm
