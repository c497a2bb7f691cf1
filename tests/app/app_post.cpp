// app_post.exe MESSAGE WPARAM LPARAM: posts one message to the recorder's window, found by
// its class as a second instance finds it; exits 1 when there is no such window.
// app_post.exe --resources: prints the window process's GDI objects, user objects and kernel
// handles, for the measurements of a long session.
// app_post.exe --watch MS: for MS milliseconds prints the texts of the windows inside the
// recorder's (joined by '|') whenever they change.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Another process's controls answer only a sent WM_GETTEXT, not GetWindowText.
std::string ChildTexts(HWND window) {
    std::string texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM out) -> BOOL {
            char text[64] = {};
            DWORD_PTR length = 0;
            if (SendMessageTimeoutA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                    SMTO_ABORTIFHUNG, 1000, &length) &&
                length > 0)
                *reinterpret_cast<std::string*>(out) += std::string(text) + "|";
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

}  // namespace

int main(int argc, char** argv) {
    HWND window = FindWindowW(L"QuillmarMicrophoneRecordKitWindowClass", nullptr);
    if (window == nullptr)
        return 1;
    if (argc == 2 && std::strcmp(argv[1], "--resources") == 0) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
        if (process == nullptr)
            return 1;
        DWORD handles = 0;
        GetProcessHandleCount(process, &handles);
        std::printf("gdi %lu user %lu handles %lu\n", GetGuiResources(process, GR_GDIOBJECTS),
                    GetGuiResources(process, GR_USEROBJECTS), handles);
        CloseHandle(process);
        return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "--watch") == 0) {
        // Every 50 ms for that many milliseconds; each change of the texts is one line.
        std::string last;
        for (long long left = std::strtoll(argv[2], nullptr, 10); left > 0; left -= 50) {
            const std::string texts = ChildTexts(window);
            if (texts != last)
                std::printf("%s\n", texts.c_str());
            std::fflush(stdout);
            last = texts;
            Sleep(50);
        }
        return 0;
    }
    if (argc != 4)
        return 2;
    const auto number = [](const char* text) { return std::strtoll(text, nullptr, 0); };
    return PostMessageW(window, static_cast<UINT>(number(argv[1])),
                        static_cast<WPARAM>(number(argv[2])), static_cast<LPARAM>(number(argv[3])))
               ? 0
               : 1;
}
