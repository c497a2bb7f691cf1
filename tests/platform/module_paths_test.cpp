// Module paths and the shared data folders, against the platform's own answers.
#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <cstdint>
#include <string>

#include "platform/win/module_paths.h"

using namespace qm;

namespace {

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.rfind(L'\\') + 1);
}

TEST(ModulePath, NamesAFileBesideTheExecutableInNarrowAndWide) {
    wchar_t wide[MAX_PATH] = {};
    EXPECT_EQ(ModulePathOf(L"lang.ini", wide), wide);
    EXPECT_EQ(std::wstring(wide), ExecutableFolder() + L"lang.ini");
    char narrow[MAX_PATH] = {};
    ModulePathOf("Pravik.dll", narrow);
    const std::wstring folder = ExecutableFolder();
    EXPECT_EQ(std::string(narrow), std::string(folder.begin(), folder.end()) + "Pravik.dll");
}

TEST(ModulePath, LeavesTheBufferWhenTheModuleIsUnknownOrTheNameTooLong) {
    char buffer[MAX_PATH] = "unchanged";
    // A handle that names no loaded module.
    ModulePathOf("x.dll", buffer, reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10)));
    EXPECT_STREQ(buffer, "unchanged");
    const std::string tooLong(MAX_PATH, 'n');
    ModulePathOf(tooLong.c_str(), buffer);
    EXPECT_STREQ(buffer, "unchanged");
}

bool HasNullDacl(const std::wstring& folder) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD result =
        GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(descriptor);
    return result == ERROR_SUCCESS && dacl == nullptr;
}

// The folders must carry a real access list inherited from their parent, not a null one
// that gives everybody full control.
TEST(SharedData, CreatesItsFoldersWithInheritedSecurity) {
    const std::wstring path = SharedDataFilePath();
    const std::wstring tail = L"\\Quillmar\\WebCam\\Lorvane.bin";
    ASSERT_GT(path.size(), tail.size());
    EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
    const std::wstring webcam = path.substr(0, path.size() - std::wstring(L"Lorvane.bin").size());
    const std::wstring quillmar =
        webcam.substr(0, webcam.size() - std::wstring(L"WebCam\\").size());
    EXPECT_TRUE(IsDirectory(quillmar.c_str()));
    EXPECT_TRUE(IsDirectory(webcam.c_str()));
    EXPECT_TRUE(IsVistaOrLater());

    // The check must see a null access list where there is one. Wine keeps no access list
    // for folders and reports one made from the Unix permissions, so there the check can
    // tell nothing and is skipped.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring control = std::wstring(temp) + L"quillmar_null_dacl";
    RemoveDirectoryW(control.c_str());
    SECURITY_DESCRIPTOR open{};
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), &open, FALSE};
    ASSERT_TRUE(CreateDirectoryW(control.c_str(), &attributes));
    const bool visible = HasNullDacl(control);
    RemoveDirectoryW(control.c_str());
    if (!visible) {
        GTEST_SKIP() << "this platform does not report a folder's null access list";
    }
    for (const std::wstring& folder : {quillmar, webcam}) {
        SCOPED_TRACE(std::string(folder.begin(), folder.end()));
        EXPECT_FALSE(HasNullDacl(folder)) << "a null access list grants everybody full control";
    }
}

}  // namespace
