#include "platform/win/settings.h"

#include <shlobj.h>

#include <span>

#include "platform/path_text.h"
#include "platform/win/module_paths.h"

namespace qm {

namespace {

constexpr char kSection[] = "Capture";
constexpr char kKey[] = "Audio";

// Appends `part` and creates the folder it names when it is missing.
bool AppendFolder(std::span<char> path, const char* part) {
    if (!AppendText(path, part)) {
        return false;
    }
    return IsDirectory(path.data()) || CreateDirectoryA(path.data(), nullptr) != FALSE;
}

// The user's documents folder followed by "\Quillmar\Audio\", each level created when
// missing. My Documents is a virtual folder on some systems; the personal folder is the same
// place on disk.
bool DefaultRecordingFolder(std::span<char> path) {
    if (!SHGetSpecialFolderPathA(nullptr, path.data(), CSIDL_MYDOCUMENTS, FALSE) &&
        !SHGetSpecialFolderPathA(nullptr, path.data(), CSIDL_PERSONAL, FALSE)) {
        return false;
    }
    return AppendFolder(path, "\\Quillmar") && AppendFolder(path, "\\Audio") &&
           AppendText(path, "\\");
}

// "<application data>\Quillmar\Audio", creating its levels when `create` is set.
bool SettingsFolder(std::span<char> path, bool create) {
    if (!SHGetSpecialFolderPathA(nullptr, path.data(), CSIDL_APPDATA, FALSE)) {
        return false;
    }
    if (create) {
        return AppendFolder(path, "\\Quillmar") && AppendFolder(path, "\\Audio");
    }
    return AppendText(path, "\\Quillmar\\Audio");
}

}  // namespace

AppFolders& Folders() {
    static AppFolders folders;
    return folders;
}

bool SettingsFilePath(char* path) {
    char folder[MAX_PATH] = {};
    return SettingsFolder(folder, false) && AppendText(std::span<char>(folder), "\\AudioRec.ini") &&
           CopyText(std::span<char>(path, MAX_PATH), folder);
}

int RunSettingsStep(AppFolders& folders) {
    char settings[MAX_PATH] = {};
    if (!SettingsFolder(settings, true) ||
        !AppendText(std::span<char>(settings), "\\AudioRec.ini")) {
        return 0;
    }
    if (GetFileAttributesA(settings) != INVALID_FILE_ATTRIBUTES) {
        GetPrivateProfileStringA(kSection, kKey, "", folders.storedRecording, MAX_PATH, settings);
    }
    char recording[MAX_PATH] = {};
    if (!DefaultRecordingFolder(recording)) {
        return 0;
    }
    WritePrivateProfileStringA(kSection, kKey, recording, settings);
    CopyText(std::span<char>(folders.recording), recording);
    return 1;
}

}  // namespace qm
