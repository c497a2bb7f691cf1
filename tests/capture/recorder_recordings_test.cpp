// The capture recorder making real recordings with the encoder library beside it (this
// program lives in bin/ with Pravik.dll). Run by recording_test.sh, which hands over its work
// folder in QUILLMAR_E2E_DIR and checks the decoded files afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "capture/recorder_helpers.h"
#include "capture/win/capture_devices.h"
#include "capture/win/capture_recorder.h"
#include "graph_helpers.h"
#include "platform/path_text.h"
#include "platform/win/settings.h"
#include "virtual_mic/virtual_mic_ids.h"

using namespace qm;

namespace {

constexpr int kBabyIndex = 1;

std::string WorkDir() {
    const char* dir = std::getenv("QUILLMAR_E2E_DIR");
    return dir != nullptr ? std::string(dir) + "\\" : std::string();
}

long long FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Records for `ms` with the thread's messages flowing, as the dialog's loop keeps them.
void RecordFor(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
}

class RecorderRecordings : public ::testing::Test {
  protected:
    void SetUp() override {
        if (WorkDir().empty()) {
            GTEST_SKIP() << "QUILLMAR_E2E_DIR is not set; recording_test.sh sets it";
        }
        mic_ = VirtualMicIndex();
        ASSERT_GE(mic_, 0) << "the virtual microphone is not registered";
        SetEnvironmentVariableA(kVirtualMicWavVariable, (WorkDir() + "tone.wav").c_str());
        SetEnvironmentVariableA(kVirtualMicBufferMsVariable, "10");
    }

    void UseFolder(const std::string& name) {
        folder_ = WorkDir() + name + "\\";
        CreateDirectoryA(folder_.c_str(), nullptr);
        ASSERT_TRUE(CopyText(std::span<char>(Folders().recording), folder_.c_str()));
    }

    // The recorder lives on a single-threaded apartment, as on the dialog's thread.
    struct Apartment {
        Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
        ~Apartment() { CoUninitialize(); }
    } apartment_;
    int mic_ = -1;
    std::string folder_;
};

// Two starts in the same second name the same file; the second recording, shorter, must
// replace the first entirely rather than write over its beginning.
TEST_F(RecorderRecordings, TwoStartsWithinOneSecondOverwriteTheSameFile) {
    UseFolder("overwrite");
    CaptureRecorder recorder;
    ASSERT_EQ(recorder.Init(nullptr), 1);
    recorder.SetClockForTesting(FixedClock);
    recorder.deviceIndex = mic_;
    ASSERT_EQ(recorder.Start(), 1);
    const std::string first = recorder.OutputPath();
    RecordFor(2000);
    recorder.Stop();
    const long long firstBytes = FileBytes(first);
    ASSERT_GT(firstBytes, 0);

    ASSERT_EQ(recorder.Start(), 1);
    EXPECT_EQ(std::string(recorder.OutputPath()), first);
    RecordFor(500);
    recorder.Stop();
    const long long secondBytes = FileBytes(first);
    EXPECT_GT(secondBytes, 0);
    // Half a second of audio against two: a file written over, not replaced, would keep the
    // first recording's length.
    EXPECT_LT(secondBytes, firstBytes / 2);
    EXPECT_EQ(FilesIn(folder_, "*.mp3"), 1);
    recorder.Shutdown();
}

// The filter outlives the recording: the second one, with no new selection, still carries
// the effect chosen before the first. Its file goes to the work folder as reuse.mp3, where
// the script decodes it and the pitch check confirms the effect.
TEST_F(RecorderRecordings, SecondRecordingReusesTheFilterWithTheLastEffect) {
    UseFolder("reuse");
    CaptureRecorder recorder;
    ASSERT_EQ(recorder.Init(nullptr), 1);
    IVoiceEffectControl* control = recorder.EffectControl();
    ASSERT_EQ(control->SelectEffect(kBabyIndex, 0), S_OK);
    recorder.deviceIndex = mic_;
    ASSERT_EQ(recorder.Start(), 1);
    RecordFor(1000);
    recorder.Stop();
    ASSERT_EQ(recorder.EffectControl(), control);

    ASSERT_EQ(recorder.Start(), 1);
    LARGE_INTEGER started{}, stopped{}, frequency{};
    QueryPerformanceCounter(&started);
    RecordFor(2500);
    QueryPerformanceCounter(&stopped);
    recorder.Stop();
    QueryPerformanceFrequency(&frequency);
    const std::string second = recorder.OutputPath();
    ASSERT_GT(FileBytes(second), 0);
    ASSERT_TRUE(CopyFileA(second.c_str(), (WorkDir() + "reuse.mp3").c_str(), FALSE));
    std::ofstream seconds(WorkDir() + "reuse.seconds");
    seconds << static_cast<double>(stopped.QuadPart - started.QuadPart) /
                   static_cast<double>(frequency.QuadPart)
            << "\n";
    recorder.Shutdown();
}

// The window closed during a recording: Shutdown tears the graph down without end-of-stream,
// and the file must still carry a complete header. It goes to the work folder as closed.mp3.
TEST_F(RecorderRecordings, ClosingDuringARecordingStillCompletesTheHeader) {
    UseFolder("closed");
    CaptureRecorder recorder;
    ASSERT_EQ(recorder.Init(nullptr), 1);
    recorder.deviceIndex = mic_;
    ASSERT_EQ(recorder.Start(), 1);
    RecordFor(1500);
    recorder.Shutdown();
    const std::string path = recorder.OutputPath();
    ASSERT_GT(FileBytes(path), 0);
    ASSERT_TRUE(CopyFileA(path.c_str(), (WorkDir() + "closed.mp3").c_str(), FALSE));
}

}  // namespace
