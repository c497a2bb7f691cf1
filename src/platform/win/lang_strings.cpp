#include "platform/win/lang_strings.h"

#include <cwchar>
#include <span>

#include "platform/path_text.h"

namespace qm {

namespace {

constexpr DWORD kResultChars = 1024;

struct LanguageState {
    wchar_t userSection[8] = {};
    wchar_t primarySection[8] = {};
    wchar_t file[MAX_PATH] = {};
    wchar_t wideResult[kResultChars] = {};
    char narrowResult[kResultChars] = {};
};

LanguageState& State() {
    static LanguageState state;
    return state;
}

// True when the section holds more than a single character for `key`; a one-letter value is
// taken for a placeholder, not a translation.
bool ReadTranslation(const wchar_t* section, const wchar_t* key) {
    LanguageState& state = State();
    if (section[0] == L'\0' || state.file[0] == L'\0') {
        return false;
    }
    return GetPrivateProfileStringW(section, key, L"", state.wideResult, kResultChars, state.file) >
           1;
}

}  // namespace

void SetLanguage(LANGID language, const wchar_t* languageFile) {
    LanguageState& state = State();
    std::swprintf(state.userSection, std::size(state.userSection), L"%04x",
                  static_cast<unsigned>(language));
    std::swprintf(state.primarySection, std::size(state.primarySection), L"%02x",
                  static_cast<unsigned>(PRIMARYLANGID(language)));
    if (languageFile == nullptr || !CopyText(std::span<wchar_t>(state.file), languageFile)) {
        state.file[0] = L'\0';
    }
}

const wchar_t* LangString(const wchar_t* key) {
    if (key == nullptr) {
        return L"";
    }
    const LanguageState& state = State();
    for (const wchar_t* section : {state.userSection, state.primarySection, L"0409"}) {
        if (ReadTranslation(section, key)) {
            return state.wideResult;
        }
    }
    return key;
}

const char* LangStringA(const wchar_t* key) {
    LanguageState& state = State();
    const wchar_t* text = LangString(key);
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, state.narrowResult, kResultChars, nullptr,
                            nullptr) == 0) {
        // Too long for the buffer: WideCharToMultiByte leaves no terminator behind.
        state.narrowResult[0] = '\0';
    }
    return state.narrowResult;
}

}  // namespace qm
