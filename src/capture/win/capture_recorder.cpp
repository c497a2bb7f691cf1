#include "capture/win/capture_recorder.h"

#include <control.h>

#include <cstdio>
#include <string>

#include "encoder/voice_recipe.h"
#include "filter/win/voice_effect_filter.h"
#include "platform/win/module_paths.h"
#include "platform/win/settings.h"

namespace qm {

namespace {

// How long Stop waits for the encoder and the file stage to write the end of the stream. The
// tail is a few blocks of audio and one encoder flush; anything longer is a graph that will
// not complete, and the recording is closed as it stands.
constexpr long kCompletionWaitMs = 3000;
// The pause after a recording before the dialog is told and opens the folder in the shell.
constexpr DWORD kAfterStopMs = 800;
// The room the end of a recording takes beyond a few seconds of its stream: the encoder's
// last frames and the file stage's tag.
constexpr uint64_t kFinishRoomBytes = 32768;
// Seconds of the stream kept free: the one until the next look, and what the effect holds.
constexpr uint64_t kRoomSeconds = 3;

RecordingStartTime LocalStartTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace

CaptureRecorder::~CaptureRecorder() {
    Release();
    // Last: the graph's objects may run code from the library until they are released.
    if (encoderLibrary_ != nullptr) {
        FreeLibrary(encoderLibrary_);
        encoderLibrary_ = nullptr;
    }
}

int CaptureRecorder::Init(HWND notifyWindow) {
    notifyWindow_ = notifyWindow;
    Release();

    HRESULT hr = S_OK;
    VoiceEffectFilter* stage = VoiceEffectFilter::CreateInstance(nullptr, &hr);
    if (stage == nullptr) {
        return 0;
    }
    // The new filter counts no reference yet; this one keeps it alive through failed queries.
    ComPtr<IUnknown> identity;
    if (FAILED(stage->NonDelegatingQueryInterface(IID_IUnknown, identity.PutVoid())) || !identity) {
        return 0;
    }
    if (FAILED(identity->QueryInterface(IID_IVoiceEffectControl, effectControl_.PutVoid())) ||
        !effectControl_) {
        effectControl_.Reset();
        return 0;
    }
    if (FAILED(effectControl_->QueryInterface(IID_IBaseFilter, effectFilter_.PutVoid())) ||
        !effectFilter_) {
        effectFilter_.Reset();
        return 0;
    }
    effectStage_ = stage;

    if (encoderLibrary_ == nullptr) {
        char path[MAX_PATH] = {};
        ModulePathOf("Pravik.dll", path);
        if (path[0] != '\0') {
            // The library's own dependencies are looked for beside it, not in our folder.
            encoderLibrary_ = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    return 1;
}

int CaptureRecorder::Start() {
    Teardown();
    lastFileBytes_ = 0;
    const RecordingStartTime start = clock_ != nullptr ? clock_() : LocalStartTime();
    // A folder that leaves no room for the name refuses the start rather than write a cut
    // (and so different) path.
    if (!ComposeRecordingPath(outputPath_, Folders().recording, start)) {
        return 0;
    }
    char recorded[32] = {};
    std::snprintf(recorded, sizeof recorded, "%04d-%02d-%02dT%02d:%02d:%02d", start.year,
                  start.month, start.day, start.hour, start.minute, start.second);
    const std::string voice =
        VoiceRecipeOf(effectStage_ != nullptr ? effectStage_->CurrentEffect() : nullptr);
    const CaptureGraphInputs inputs{deviceIndex, encoderLibrary_, effectFilter_.Get(),
                                    outputPath_, recorded,        voice.c_str()};
    return SUCCEEDED(BuildCaptureGraph(graph_, inputs)) ? 1 : 0;
}

void CaptureRecorder::FinishStream() {
    if (!graph_.control || !graph_.graph || effectStage_ == nullptr) {
        return;
    }
    OAFilterState state = State_Stopped;
    if (FAILED(graph_.control->GetState(0, &state)) || state != State_Running) {
        return;
    }
    // Pushes what the effect still holds downstream, then end-of-stream; the encoder and the
    // file stage write their last frames when it reaches them.
    if (FAILED(effectStage_->EndStream())) {
        return;
    }
    ComPtr<IMediaEvent> events;
    if (SUCCEEDED(graph_.graph->QueryInterface(IID_IMediaEvent, events.PutVoid())) && events) {
        long code = 0;
        events->WaitForCompletion(kCompletionWaitMs, &code);
    }
}

void CaptureRecorder::Stop() {
    FinishStream();
    Teardown();
    Sleep(kAfterStopMs);
    PostMessageA(notifyWindow_, qm::kRecordingStoppedMessage, 0, 0);
}

bool CaptureRecorder::OutOfRoom() {
    WIN32_FILE_ATTRIBUTE_DATA file{};
    ULARGE_INTEGER available{};
    if (outputPath_[0] == '\0' ||
        !GetFileAttributesExA(outputPath_, GetFileExInfoStandard, &file) ||
        !GetDiskFreeSpaceExA(Folders().recording, &available, nullptr, nullptr)) {
        return false;
    }
    const uint64_t bytes = uint64_t{file.nFileSizeHigh} << 32 | file.nFileSizeLow;
    const uint64_t perSecond = bytes > lastFileBytes_ ? bytes - lastFileBytes_ : 0;
    lastFileBytes_ = bytes;
    return available.QuadPart < kRoomSeconds * perSecond + kFinishRoomBytes;
}

int CaptureRecorder::Shutdown() {
    Release();
    return 1;
}

void CaptureRecorder::Release() {
    Teardown();
    effectStage_ = nullptr;
    effectFilter_.Reset();
    effectControl_.Reset();
}

void CaptureRecorder::Teardown() {
    if (graph_.control) {
        graph_.control->StopWhenReady();
        // StopWhenReady may return before every filter has stopped; the filters below must be
        // stopped before they leave the graph.
        graph_.control->Stop();
        graph_.control.Reset();
    }
    graph_.builder.Reset();
    if (graph_.graph) {
        for (IBaseFilter* filter :
             {graph_.source.Get(), graph_.encoder.Get(), graph_.fileStage.Get(),
              graph_.fileWriter.Get(), effectFilter_.Get()}) {
            if (filter != nullptr) {
                graph_.graph->RemoveFilter(filter);
            }
        }
    }
    graph_.fileStage.Reset();
    graph_.fileWriter.Reset();
    graph_.source.Reset();
    graph_.encoder.Reset();
    graph_.graph.Reset();
}

}  // namespace qm
