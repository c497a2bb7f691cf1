#include "ui/win/recorder_seams.h"

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

namespace qm::ui {

TickClock::TickClock() {
    const char* text = std::getenv("QUILLMAR_CLOCK_AHEAD_MS");
    if (text == nullptr)
        return;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end != text && *end == '\0' && value <= 0xFFFFFFFFul)
        aheadMs_ = static_cast<uint32_t>(value);
}

Shell::Shell() {
    if (const char* path = std::getenv("QUILLMAR_SHELL_LOG"); path != nullptr && *path != '\0')
        logPath_ = path;
}

void Shell::OpenFolder(HWND owner, const char* folder) const {
    if (!logPath_.empty()) {
        Log(std::string("open ") + folder);
        return;
    }
    ShellExecuteA(owner, "Open", folder, nullptr, nullptr, SW_SHOWNORMAL);
}

void Shell::StartProgram(HWND owner, const char* program, const char* parameters) const {
    if (!logPath_.empty()) {
        Log(std::string("start ") + program + " " + parameters);
        return;
    }
    ShellExecuteA(owner, nullptr, program, parameters, nullptr, SW_SHOWNORMAL);
}

void Shell::Log(const std::string& line) const {
    if (FILE* file = std::fopen(logPath_.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

}  // namespace qm::ui
