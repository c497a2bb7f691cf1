#include "platform/win/module_paths.h"

#include <shlobj.h>
#include <versionhelpers.h>

#include <span>

#include "platform/path_text.h"

namespace qm {

namespace {

template <typename Char, typename GetName>
Char* BesideModule(const Char* name, Char* buffer, HMODULE module, GetName getModuleName) {
    if (name == nullptr || buffer == nullptr) {
        return buffer;
    }
    Char modulePath[MAX_PATH] = {};
    const DWORD length = getModuleName(module, modulePath, MAX_PATH);
    // Zero is failure; MAX_PATH means the path was cut, and a cut path names nothing.
    if (length == 0 || length >= MAX_PATH) {
        return buffer;
    }
    BesideModuleText(std::span<Char>(buffer, MAX_PATH), std::span<const Char>(modulePath), name);
    return buffer;
}

// Creates `path` when it is not an existing directory. No security attributes: the folder
// takes the access its parent hands down, like every other folder the user makes there.
void EnsureDirectory(const wchar_t* path) {
    if (!IsDirectory(path)) {
        CreateDirectoryW(path, nullptr);
    }
}

}  // namespace

char* ModulePathOf(const char* name, char* buffer, HMODULE module) {
    return BesideModule(name, buffer, module, GetModuleFileNameA);
}

wchar_t* ModulePathOf(const wchar_t* name, wchar_t* buffer, HMODULE module) {
    return BesideModule(name, buffer, module, GetModuleFileNameW);
}

char* ReplaceFileName(const char* name, char* path) {
    if (path != nullptr) {
        ReplaceFileNameText(std::span<char>(path, MAX_PATH), name);
    }
    return path;
}

bool IsVistaOrLater() {
    static const bool vista = IsWindowsVistaOrGreater();
    return vista;
}

bool IsDirectory(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsDirectory(const wchar_t* path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

const wchar_t* SharedDataFilePath() {
    static wchar_t path[MAX_PATH];
    const std::span<wchar_t> buffer(path);
    buffer[0] = L'\0';
    bool ok = false;
    if (IsVistaOrLater()) {
        const UINT length = GetWindowsDirectoryW(path, MAX_PATH);
        ok = length > 0 && length < MAX_PATH &&
             AppendText(buffer, L"\\..\\Users\\Public\\Quillmar\\");
    } else {
        ok = SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                                        SHGFP_TYPE_CURRENT, path)) &&
             AppendText(buffer, L"\\Quillmar\\");
    }
    if (!ok) {
        // Without its folder the file would land wherever the process happens to be.
        path[0] = L'\0';
        return path;
    }
    EnsureDirectory(path);
    if (!AppendText(buffer, L"WebCam\\")) {
        path[0] = L'\0';
        return path;
    }
    EnsureDirectory(path);
    if (!AppendText(buffer, L"Lorvane.bin")) {
        path[0] = L'\0';
    }
    return path;
}

}  // namespace qm
