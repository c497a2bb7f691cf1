#pragma once

#include <windows.h>

#include <strmif.h>

#include "capture/recording_name.h"
#include "capture/win/capture_graph.h"
#include "filter/win/voice_effect_control.h"
#include "platform/win/window_messages.h"
#include "streaming/win/com_ptr.h"

namespace qm {

class VoiceEffectFilter;

// The recording engine of the recorder dialog. It holds one voice effect filter from Init to
// Shutdown and keeps the encoder library loaded; each Start names a file after the local time
// in the recording folder and runs a fresh capture graph that writes it, each Stop finishes
// the file and tears the graph down. It keeps no recording flag: the dialog decides when to
// start and stop.
//
// Threads: every operation runs on the user-interface thread. Stop blocks it while the last
// captured audio is written (a few seconds at most) and for 800 ms after. The graph's
// streaming threads belong to the media framework and end when the graph stops.
class CaptureRecorder {
  public:
    CaptureRecorder() = default;
    ~CaptureRecorder();
    CaptureRecorder(const CaptureRecorder&) = delete;
    CaptureRecorder& operator=(const CaptureRecorder&) = delete;

    // Keeps the window, makes the voice effect filter and loads Pravik.dll from the program's
    // folder (a failed load shows only at Start). 1 on success, 0 when the filter cannot be
    // made or does not answer its interfaces.
    int Init(HWND notifyWindow);
    // Names the output file and builds and runs the graph. 1 when the graph runs, else 0;
    // what a failed start created is kept until the next Start, Stop or Shutdown.
    int Start();
    // Finishes the recording (the effect's held audio, the encoder's and the file's last
    // frames), tears the graph down, waits 800 ms and posts qm::kRecordingStoppedMessage.
    void Stop();
    // Tears down and lets the filter go. Always 1; Start is not called again.
    int Shutdown();
    // True when the recording's disk has no room left for what the next second writes and for
    // finishing the file (the audio the effect holds, the encoder's last frames): stopped now,
    // the recording is still complete. Measures the file's growth since the last call; call it
    // about once a second while recording.
    bool OutOfRoom();

    // The effect stage's control, for SelectEffect; null before Init and after Shutdown.
    IVoiceEffectControl* EffectControl() const { return effectControl_.Get(); }
    // The file of the current (or last) recording; empty before the first Start.
    const char* OutputPath() const { return outputPath_; }

    // 0-based audio input device index (see FindCaptureDevice); written by the dialog.
    int deviceIndex = 0;

    // Replaces the clock that names recordings (null: the local time).
    void SetClockForTesting(RecordingStartTime (*clock)()) { clock_ = clock; }

  private:
    // Stops the graph and lets every filter in it go; a recorder without a graph is unchanged.
    // The only place that releases the graph.
    void Teardown();
    // Teardown, then lets the effect filter go: the one place the recorder gives up what Init
    // took (the encoder library stays loaded until the destructor).
    void Release();
    // Ends the stream at the effect stage and waits, bounded, for the file writer to
    // report the whole stream written.
    void FinishStream();

    char outputPath_[MAX_PATH] = {};
    HWND notifyWindow_ = nullptr;
    HMODULE encoderLibrary_ = nullptr;
    CaptureGraph graph_;
    ComPtr<IVoiceEffectControl> effectControl_;
    ComPtr<IBaseFilter> effectFilter_;
    // The same object as the two references above; valid while they are held.
    VoiceEffectFilter* effectStage_ = nullptr;
    RecordingStartTime (*clock_)() = nullptr;
    uint64_t lastFileBytes_ = 0;
};

}  // namespace qm
