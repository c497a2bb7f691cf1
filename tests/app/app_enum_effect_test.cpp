// Modules in the recorder's process reach the effects through the executable's export: the
// program must export EnumEffect by that exact name, inside its code. The module is mapped
// without running anything of it: an executable loaded as a module never gets its run-time
// start-up, so its functions are called only inside the recorder's own process.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(RecorderExecutable, ExportsEnumEffectByName) {
    HMODULE program = LoadLibraryExA(QUILLMAR_RECORDER_EXE, nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(program, nullptr) << QUILLMAR_RECORDER_EXE;
    const auto* base = reinterpret_cast<const unsigned char*>(program);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto* address = reinterpret_cast<const unsigned char*>(
        reinterpret_cast<void*>(GetProcAddress(program, "EnumEffect")));
    ASSERT_NE(address, nullptr);
    EXPECT_GE(address, base + nt->OptionalHeader.BaseOfCode);
    EXPECT_LT(address, base + nt->OptionalHeader.BaseOfCode + nt->OptionalHeader.SizeOfCode);
    EXPECT_EQ(GetProcAddress(program, "enumeffect"), nullptr) << "names are exact";
    FreeLibrary(program);
}

}  // namespace
