// app_post.exe MESSAGE WPARAM LPARAM: posts one message to the recorder's window, found by
// its class as a second instance finds it; exits 1 when there is no such window.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    HWND window = FindWindowW(L"QuillmarMicrophoneRecordKitWindowClass", nullptr);
    if (window == nullptr)
        return 1;
    const auto number = [](const char* text) { return std::strtoll(text, nullptr, 0); };
    return PostMessageW(window, static_cast<UINT>(number(argv[1])),
                        static_cast<WPARAM>(number(argv[2])), static_cast<LPARAM>(number(argv[3])))
               ? 0
               : 1;
}
