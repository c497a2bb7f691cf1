// The settings step with the real special folders and profile functions, inside the test
// Wine prefix (its user folders are the prefix's own). The oracles are the platform's own
// folder queries and profile reader.
#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <string>

#include "platform/win/settings.h"

using namespace qm;

namespace {

std::string SpecialFolder(int csidl) {
    char path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}

std::string SettingsFile() {
    return SpecialFolder(CSIDL_APPDATA) + "\\Quillmar\\Audio\\AudioRec.ini";
}

std::string DefaultFolder() {
    return SpecialFolder(CSIDL_PERSONAL) + "\\Quillmar\\Audio\\";
}

std::string StoredValue() {
    char value[MAX_PATH] = {};
    GetPrivateProfileStringA("Capture", "Audio", "<absent>", value, MAX_PATH,
                             SettingsFile().c_str());
    return value;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void RemoveTree(const std::string& path) {
    std::string from = path;
    from.push_back('\0');  // the operation takes a double-terminated list
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.c_str();
    operation.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&operation);
}

TEST(SettingsStep, FirstStartCreatesTheSettingsFileAndTheFolders) {
    RemoveTree(SpecialFolder(CSIDL_APPDATA) + "\\Quillmar");
    RemoveTree(SpecialFolder(CSIDL_PERSONAL) + "\\Quillmar");
    ASSERT_FALSE(IsFolder(DefaultFolder()));

    AppFolders folders;
    ASSERT_EQ(RunSettingsStep(folders), 1);
    EXPECT_EQ(StoredValue(), DefaultFolder());
    EXPECT_TRUE(IsFolder(DefaultFolder()));
    EXPECT_EQ(std::string(folders.recording), DefaultFolder());
    EXPECT_EQ(std::string(folders.storedRecording), "");
    char path[MAX_PATH] = {};
    ASSERT_TRUE(SettingsFilePath(path));
    EXPECT_EQ(std::string(path), SettingsFile());
}

TEST(SettingsStep, HandEditedFolderIsKeptAsStoredAndReplacedByTheDefault) {
    AppFolders first;
    ASSERT_EQ(RunSettingsStep(first), 1);
    ASSERT_TRUE(
        WritePrivateProfileStringA("Capture", "Audio", "D:\\Elsewhere\\", SettingsFile().c_str()));
    AppFolders folders;
    ASSERT_EQ(RunSettingsStep(folders), 1);
    EXPECT_EQ(std::string(folders.storedRecording), "D:\\Elsewhere\\");
    EXPECT_EQ(std::string(folders.recording), DefaultFolder());
    EXPECT_EQ(StoredValue(), DefaultFolder());
}

// A stored value longer than the buffer is cut by the profile reader; the fields beside the
// stored folder must be untouched.
TEST(SettingsStep, OverlongStoredValueStaysInsideItsBuffer) {
    AppFolders first;
    ASSERT_EQ(RunSettingsStep(first), 1);
    const std::string longValue(600, 'L');
    ASSERT_TRUE(
        WritePrivateProfileStringA("Capture", "Audio", longValue.c_str(), SettingsFile().c_str()));
    AppFolders folders;
    std::memset(folders.sharedEffects, '#', sizeof(folders.sharedEffects));
    ASSERT_EQ(RunSettingsStep(folders), 1);
    EXPECT_EQ(std::string(folders.storedRecording), std::string(MAX_PATH - 1, 'L'));
    for (char c : folders.sharedEffects) {
        ASSERT_EQ(c, '#');
    }
}

}  // namespace
