// The capture recorder's refusals, without the encoder library: this test program's folder
// holds no Pravik.dll. Every refused start must write no file, and every Stop must post the
// stop notification.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "capture/recorder_helpers.h"
#include "capture/win/capture_recorder.h"
#include "graph_helpers.h"
#include "platform/path_text.h"
#include "platform/win/module_paths.h"
#include "platform/win/settings.h"

using namespace qm;

namespace {

// A message-only window that collects the recorder's notifications.
class NotifyWindow {
  public:
    NotifyWindow()
        : window_(CreateWindowExA(0, "STATIC", "notify", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr)) {}
    ~NotifyWindow() { DestroyWindow(window_); }
    NotifyWindow(const NotifyWindow&) = delete;
    NotifyWindow& operator=(const NotifyWindow&) = delete;
    HWND Get() const { return window_; }
    int TakeStopNotifications() {
        int count = 0;
        MSG message;
        while (PeekMessageA(&message, window_, qm::kRecordingStoppedMessage,
                            qm::kRecordingStoppedMessage, PM_REMOVE)) {
            EXPECT_EQ(message.wParam, 0u);
            EXPECT_EQ(message.lParam, 0);
            ++count;
        }
        return count;
    }

  private:
    HWND window_;
};

// A fresh, empty recording folder in the temporary folder.
std::string FreshFolder(const char* name) {
    const std::string folder = TempFilePath(name) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((folder + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return folder;
}

class CaptureRecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = FreshFolder("quillmar_recorder_refusals");
        CopyText(std::span<char>(Folders().recording), folder_.c_str());
        ASSERT_EQ(recorder_.Init(window_.Get()), 1);
        ASSERT_NE(recorder_.EffectControl(), nullptr);
        recorder_.SetClockForTesting(FixedClock);
    }

    ComApartment com_;
    NotifyWindow window_;
    CaptureRecorder recorder_;
    std::string folder_;
};

TEST_F(CaptureRecorderTest, StopWithNothingRunningOnlyPostsTheNotification) {
    recorder_.Stop();
    EXPECT_EQ(window_.TakeStopNotifications(), 1);
    EXPECT_EQ(FilesIn(folder_), 0);
    EXPECT_EQ(recorder_.Shutdown(), 1);
    EXPECT_EQ(recorder_.EffectControl(), nullptr);
}

struct RefusalCase {
    const char* name;
    int deviceOffset;  // added to the virtual microphone's index; kPastEnd: the device count
    bool overlongFolder;
};
constexpr int kPastEnd = 1000;

class StartRefusal : public CaptureRecorderTest,
                     public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(StartRefusal, StartReturnsZeroAndWritesNoFile) {
    const RefusalCase c = GetParam();
    char encoder[MAX_PATH] = {};
    ModulePathOf("Pravik.dll", encoder);
    ASSERT_EQ(GetFileAttributesA(encoder), INVALID_FILE_ATTRIBUTES)
        << "these refusals need a folder without the encoder library";
    const int mic = VirtualMicIndex();
    ASSERT_GE(mic, 0) << "the virtual microphone is not registered";
    recorder_.deviceIndex = c.deviceOffset == kPastEnd
                                ? static_cast<int>(CaptureDeviceNames().size())
                                : mic + c.deviceOffset;
    std::string overlong;
    if (c.overlongFolder) {
        // 234 characters: one more than leaves room for the 26-character name in 259.
        overlong = folder_ + std::string(233 - folder_.size(), 'd') + "\\";
        ASSERT_EQ(overlong.size(), 234u);
        CopyText(std::span<char>(Folders().recording), overlong.c_str());
    }
    EXPECT_EQ(recorder_.Start(), 0);
    recorder_.Stop();
    EXPECT_EQ(window_.TakeStopNotifications(), 1);
    EXPECT_EQ(FilesIn(folder_), 0);
    if (!c.overlongFolder) {
        EXPECT_EQ(std::string(recorder_.OutputPath()), folder_ + kFixedClockName);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, StartRefusal,
                         ::testing::Values(RefusalCase{"missingEncoderLibrary", 0, false},
                                           RefusalCase{"devicePastTheEnd", kPastEnd, false},
                                           RefusalCase{"negativeDevice", -1000, false},
                                           RefusalCase{"folderTooLong", 0, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Unregisters the virtual microphone for the life of the object, and registers it again.
class MicrophoneUnplugged {
  public:
    MicrophoneUnplugged() : module_(LoadLibraryA(QUILLMAR_VMIC_DLL)) {
        if (auto unregister = Entry("DllUnregisterServer")) {
            unplugged_ = SUCCEEDED(unregister());
        }
    }
    ~MicrophoneUnplugged() {
        if (auto reregister = Entry("DllRegisterServer")) {
            reregister();
        }
        FreeLibrary(module_);
    }
    MicrophoneUnplugged(const MicrophoneUnplugged&) = delete;
    MicrophoneUnplugged& operator=(const MicrophoneUnplugged&) = delete;
    bool Unplugged() const { return unplugged_; }

  private:
    using Entry_t = HRESULT(STDAPICALLTYPE*)();
    Entry_t Entry(const char* name) const {
        return module_ == nullptr ? nullptr
                                  : reinterpret_cast<Entry_t>(reinterpret_cast<void (*)()>(
                                        GetProcAddress(module_, name)));
    }
    HMODULE module_;
    bool unplugged_ = false;
};

TEST_F(CaptureRecorderTest, StartWithoutAnyAudioInputDeviceReturnsZero) {
    {
        MicrophoneUnplugged unplugged;
        ASSERT_TRUE(unplugged.Unplugged());
        ASSERT_TRUE(CaptureDeviceNames().empty()) << "this test needs a machine with no other "
                                                     "audio input device";
        recorder_.deviceIndex = 0;
        EXPECT_EQ(recorder_.Start(), 0);
        recorder_.Stop();
    }
    EXPECT_EQ(window_.TakeStopNotifications(), 1);
    EXPECT_EQ(FilesIn(folder_), 0);
    EXPECT_GE(VirtualMicIndex(), 0) << "the microphone must be registered again";
}

}  // namespace
