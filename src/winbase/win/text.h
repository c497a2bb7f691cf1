// Text for the wide Win32 calls: narrow text in the ANSI code page, converted up to its first
// NUL (as the wide call would read it anyway). Any thread; allocates.
#pragma once

#include <windows.h>

#include <string>

namespace qm::win {

inline std::wstring Widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 1)
        return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

}  // namespace qm::win
