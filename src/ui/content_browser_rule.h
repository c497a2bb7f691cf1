// When the recorder shows its content browser, with no window types. The browser starts hidden
// and stays so while it only shows the program's own resource pages ("res:" locations, in any
// case); the first completed document anywhere else makes it visible.
#pragma once

#include <string_view>

namespace qm::ui {

inline bool ShowsContentBrowserAfter(std::wstring_view location) {
    constexpr std::wstring_view kResourcePage = L"res:";
    if (location.size() < kResourcePage.size())
        return true;
    for (std::size_t i = 0; i < kResourcePage.size(); ++i) {
        const wchar_t c = location[i];
        const wchar_t lower = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
        if (lower != kResourcePage[i])
            return true;
    }
    return false;
}

}  // namespace qm::ui
