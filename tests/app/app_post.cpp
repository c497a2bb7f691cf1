// app_post.exe MESSAGE WPARAM LPARAM: posts one message to the recorder's window, found by
// its class as a second instance finds it; exits 1 when there is no such window.
// app_post.exe --resources: prints the window process's GDI objects, user objects and kernel
// handles, for the measurements of a long session.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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
    if (argc != 4)
        return 2;
    const auto number = [](const char* text) { return std::strtoll(text, nullptr, 0); };
    return PostMessageW(window, static_cast<UINT>(number(argv[1])),
                        static_cast<WPARAM>(number(argv[2])), static_cast<LPARAM>(number(argv[3])))
               ? 0
               : 1;
}
