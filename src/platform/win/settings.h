#pragma once

#include <windows.h>

namespace qm {

// The folders the program works with, process-wide, filled once while the main dialog
// initialises. Narrow paths are in the ANSI code page; every buffer holds MAX_PATH characters.
struct AppFolders {
    // Where recordings go; ends in a backslash, or is empty when the settings step failed
    // (recordings then land in the process's current folder).
    char recording[MAX_PATH] = {};
    // [Capture] Audio as the settings file held it at start, before it was rewritten.
    char storedRecording[MAX_PATH] = {};
    // The shared data folder's "Effects\".
    char sharedEffects[MAX_PATH] = {};
    // "lang.ini" beside the executable.
    wchar_t languageFile[MAX_PATH] = {};
};

AppFolders& Folders();

// The settings step: makes "<application data>\Quillmar\Audio\" and the default recording
// folder "<documents>\Quillmar\Audio\", keeps the old [Capture] Audio of "AudioRec.ini" as the
// stored recording folder, writes the default back and makes it the recording folder.
// 1 on success; 0 when a folder can be neither found nor created or a path would not fit in
// MAX_PATH characters (the recording folder is then left empty and the file unwritten).
int RunSettingsStep(AppFolders& folders);

// The settings file the step uses ("<application data>\Quillmar\Audio\AudioRec.ini"), into
// `path` (MAX_PATH); false when the application-data folder cannot be found or the path does
// not fit. Creates nothing.
bool SettingsFilePath(char* path);

}  // namespace qm
