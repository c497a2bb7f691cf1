// What the recorder window takes from the outside world through one narrow door each, so the
// end-to-end tests can watch and steer it without a shell or four hours of waiting:
//   QUILLMAR_CLOCK_AHEAD_MS  the tick clock reads that many milliseconds ahead once a
//                            recording has started (the start tick itself is true);
//   QUILLMAR_SHELL_LOG       a file: every folder opening and program start is appended to it
//                            as one line ("open <folder>", "start <program> <parameters>")
//                            instead of reaching the shell.
// Both are read once, when the window is made. GUI thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qm::ui {

class TickClock {
  public:
    TickClock();
    // The tick count of a recording's start.
    uint32_t StartTick() const { return GetTickCount(); }
    // The tick count now, as the elapsed time is measured against StartTick.
    uint32_t Now() const { return GetTickCount() + aheadMs_; }

  private:
    uint32_t aheadMs_ = 0;
};

class Shell {
  public:
    Shell();
    // The "Open" verb on a folder, normal show.
    void OpenFolder(HWND owner, const char* folder) const;
    // The default verb on a program with its parameters, no working folder, normal show.
    void StartProgram(HWND owner, const char* program, const char* parameters) const;

  private:
    void Log(const std::string& line) const;
    std::string logPath_;
};

}  // namespace qm::ui
