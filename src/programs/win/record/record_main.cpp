// record.exe: one recording through the capture recorder, exactly as the recorder dialog makes
// it (settings step, Init, SelectEffect, Start, wait, Stop, Shutdown), from the command line.
//
//   record.exe --device K --effect I --seconds S [--folder DIR] [--report]
//   record.exe --list-devices
//
// Prints the recording's full path and exits 0; any failure prints one line to standard
// error and exits non-zero (2 for a wrong command line). --report adds one line on standard
// error: the time from Start's return to the Stop call (the audio the recording must hold),
// and the process's CPU time from Init to Shutdown.
#include <windows.h>

#include <objbase.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

#include "capture/win/capture_devices.h"
#include "capture/win/capture_recorder.h"
#include "platform/path_text.h"
#include "platform/win/settings.h"

using namespace qm;

namespace {

constexpr int kUsageError = 2;
constexpr int kRecordingError = 1;
// The dialog stops a recording by itself at four hours.
constexpr double kLongestSeconds = 4.0 * 3600.0;

struct Options {
    bool listDevices = false;
    bool report = false;
    long device = -1;
    long effect = -1;
    double seconds = -1.0;
    const char* folder = nullptr;
};

int Fail(int code, const char* message, const char* detail = nullptr) {
    if (detail != nullptr) {
        std::fprintf(stderr, "record: %s: %s\n", message, detail);
    } else {
        std::fprintf(stderr, "record: %s\n", message);
    }
    return code;
}

bool ParseLong(const char* text, long low, long high, long* value) {
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseSeconds(const char* text, double* value) {
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !std::isfinite(parsed) || parsed <= 0.0 ||
        parsed > kLongestSeconds) {
        return false;
    }
    *value = parsed;
    return true;
}

// Empty on success, else the line to print.
std::string ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--list-devices") {
            options->listDevices = true;
            continue;
        }
        if (name == "--report") {
            options->report = true;
            continue;
        }
        if (i + 1 >= argc) {
            return "missing value after " + name;
        }
        const char* value = argv[++i];
        if (name == "--device") {
            if (!ParseLong(value, 0, 0x7fffffff, &options->device)) {
                return "--device needs a device index of 0 or more";
            }
        } else if (name == "--effect") {
            if (!ParseLong(value, -0x7fffffff, 0x7fffffff, &options->effect)) {
                return "--effect needs an effect index";
            }
        } else if (name == "--seconds") {
            if (!ParseSeconds(value, &options->seconds)) {
                return "--seconds needs a length above 0 and at most 14400";
            }
        } else if (name == "--folder") {
            options->folder = value;
        } else {
            return "unknown option " + name;
        }
    }
    if (!options->listDevices &&
        (options->device < 0 || options->effect == -1 || options->seconds <= 0.0)) {
        return "usage: record.exe --device K --effect I --seconds S [--folder DIR] [--report] | "
               "--list-devices";
    }
    return {};
}

// Keeps the thread's messages flowing while the graph records, as the dialog's loop does.
void PumpFor(DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == qm::kRecordingStoppedMessage) {
                continue;
            }
            DispatchMessageA(&message);
        }
    }
}

double NowSeconds() {
    LARGE_INTEGER ticks{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&ticks);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0.0;
    }
    auto seconds = [](const FILETIME& t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) *
               1e-7;
    };
    return seconds(kernel) + seconds(user);
}

class ComThread {
  public:
    // The recorder lives on the dialog's thread, a single-threaded apartment.
    ComThread() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComThread() {
        if (SUCCEEDED(hr_)) {
            CoUninitialize();
        }
    }
    ComThread(const ComThread&) = delete;
    ComThread& operator=(const ComThread&) = delete;
    bool Ok() const { return SUCCEEDED(hr_); }

  private:
    HRESULT hr_;
};

class MessageWindow {
  public:
    MessageWindow()
        : window_(CreateWindowExA(0, "STATIC", "record", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr)) {}
    ~MessageWindow() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;
    HWND Get() const { return window_; }

  private:
    HWND window_;
};

int ListDevices() {
    int index = 0;
    for (const std::wstring& name : CaptureDeviceNames()) {
        char utf8[4 * MAX_PATH] = {};
        WideCharToMultiByte(CP_UTF8, 0, name.c_str(), -1, utf8, sizeof(utf8) - 1, nullptr, nullptr);
        std::printf("%d\t%s\n", index++, utf8);
    }
    return 0;
}

// The recording folder from --folder: the folder as given, with its closing backslash.
bool UseFolder(const char* folder) {
    AppFolders& folders = Folders();
    char path[MAX_PATH] = {};
    const std::span<char> buffer(path);
    if (!CopyText(buffer, folder)) {
        return false;
    }
    const size_t length = std::strlen(path);
    if (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/' &&
        !AppendText(buffer, "\\")) {
        return false;
    }
    return CopyText(std::span<char>(folders.recording), path);
}

int Record(const Options& options) {
    const int settings = RunSettingsStep(Folders());
    if (options.folder != nullptr) {
        if (!UseFolder(options.folder)) {
            return Fail(kRecordingError, "the recording folder is too long", options.folder);
        }
    } else if (settings == 0) {
        return Fail(kRecordingError, "the recording folder could not be set up");
    }

    MessageWindow window;
    if (window.Get() == nullptr) {
        return Fail(kRecordingError, "no window for the stop notification");
    }
    const double cpuBefore = ProcessCpuSeconds();
    CaptureRecorder recorder;
    if (!recorder.Init(window.Get())) {
        return Fail(kRecordingError, "the voice effect stage could not be created");
    }
    recorder.deviceIndex = static_cast<int>(options.device);
    recorder.EffectControl()->SelectEffect(static_cast<int32_t>(options.effect), 0);
    if (!recorder.Start()) {
        recorder.Shutdown();
        return Fail(kRecordingError,
                    "the recording did not start (no such device, no encoder library, or a "
                    "folder too long for the file name)");
    }
    const double started = NowSeconds();
    PumpFor(static_cast<DWORD>(std::lround(options.seconds * 1000.0)));
    const double recordedSeconds = NowSeconds() - started;
    recorder.Stop();
    recorder.Shutdown();
    const double cpuSeconds = ProcessCpuSeconds() - cpuBefore;

    MSG message;
    if (!PeekMessageA(&message, window.Get(), qm::kRecordingStoppedMessage,
                      qm::kRecordingStoppedMessage, PM_REMOVE)) {
        return Fail(kRecordingError, "the stop notification was not posted");
    }
    char fullPath[MAX_PATH] = {};
    const DWORD length = GetFullPathNameA(recorder.OutputPath(), MAX_PATH, fullPath, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        return Fail(kRecordingError, "the recording's path cannot be resolved",
                    recorder.OutputPath());
    }
    if (GetFileAttributesA(fullPath) == INVALID_FILE_ATTRIBUTES) {
        return Fail(kRecordingError, "no recording was written", fullPath);
    }
    if (options.report) {
        std::fprintf(stderr, "record: recorded %.3f s, cpu %.3f s\n", recordedSeconds, cpuSeconds);
    }
    std::printf("%s\n", fullPath);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const std::string problem = ParseOptions(argc, argv, &options);
    if (!problem.empty()) {
        return Fail(kUsageError, problem.c_str());
    }
    ComThread com;
    if (!com.Ok()) {
        return Fail(kRecordingError, "COM could not be started");
    }
    return options.listDevices ? ListDevices() : Record(options);
}
