#pragma once

#include <windows.h>

namespace qm {

// Interface texts by their English key, from "lang.ini". A translation is looked up in the
// section of the user's language ("0804"), then of its primary language ("04"), then of US
// English ("0409"); a value of one character or less counts as missing, and the key itself is
// the last resort, so a missing file shows the English keys.
//
// Single-threaded: both results live in shared process-wide buffers that the next lookup
// overwrites; callers copy the text at once.

// Fixes the language (a LANGID such as 0x0804) and the language file (MAX_PATH characters at
// most; a longer path is refused and leaves lookups returning keys). Call before any lookup.
void SetLanguage(LANGID language, const wchar_t* languageFile);

// The translation (in the shared wide buffer) or `key` itself.
const wchar_t* LangString(const wchar_t* key);
// LangString converted to the ANSI code page, in the shared narrow buffer (always returned).
const char* LangStringA(const wchar_t* key);

}  // namespace qm
