#pragma once

#include <windows.h>

namespace qm {

// Locations of the program's own files and the shared data file. Every buffer argument holds
// MAX_PATH characters; a result that would not fit leaves the buffer as it was.

// The folder of `module` (null: the executable) followed by `name`. When the module path
// cannot be obtained the buffer is returned unchanged; a module path without a backslash is
// kept whole.
char* ModulePathOf(const char* name, char* buffer, HMODULE module = nullptr);
wchar_t* ModulePathOf(const wchar_t* name, wchar_t* buffer, HMODULE module = nullptr);

// Everything after the last backslash of `path` becomes `name`; no backslash: unchanged.
char* ReplaceFileName(const char* name, char* path);

// True on Windows Vista (6.0) and later; asked once per process.
bool IsVistaOrLater();

// The shared data file ("...\Quillmar\WebCam\Lorvane.bin"), in a process-wide buffer; its
// folders are created on the way with the security their parent hands down. Creation
// failures are ignored: the path is returned all the same.
const wchar_t* SharedDataFilePath();

// True when `path` names an existing directory.
bool IsDirectory(const char* path);
bool IsDirectory(const wchar_t* path);

}  // namespace qm
