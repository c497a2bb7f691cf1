// Bounded path editing: every change is whole or not at all, and nothing is written past a
// buffer's capacity. Guard characters after the capacity catch overruns.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <span>
#include <string>

#include "platform/path_text.h"

using namespace qm;

namespace {

constexpr char kGuard = '#';

// A buffer of `capacity` characters holding `text`, followed by guard characters that no
// operation may touch.
template <size_t Capacity>
struct Guarded {
    std::array<char, Capacity + 8> storage{};
    explicit Guarded(const char* text) {
        storage.fill(kGuard);
        std::strcpy(storage.data(), text);
    }
    std::span<char> Buffer() { return std::span<char>(storage.data(), Capacity); }
    std::string Text() const { return storage.data(); }
    bool GuardsIntact() const {
        for (size_t i = Capacity; i < storage.size(); ++i) {
            if (storage[i] != kGuard) {
                return false;
            }
        }
        return true;
    }
};

enum class Edit { kFileName, kExtension };
constexpr Edit kName = Edit::kFileName;
constexpr Edit kExt = Edit::kExtension;

struct EditCase {
    const char* name;
    Edit edit;
    const char* path;
    const char* argument;
    bool changed;
    const char* expected;
};

// Capacity 16: "C:\dir\file.txt" is 15 characters plus its terminator, a full buffer. A file
// name goes after the last backslash, an extension from the last dot; without one the path
// stays as it is.
class ReplaceInPath : public ::testing::TestWithParam<EditCase> {};

TEST_P(ReplaceInPath, ReplacesWholeOrLeavesThePath) {
    const EditCase c = GetParam();
    Guarded<16> buffer(c.path);
    EXPECT_EQ(c.edit == kName ? ReplaceFileNameText(buffer.Buffer(), c.argument)
                              : ReplaceExtensionText(buffer.Buffer(), c.argument),
              c.changed);
    EXPECT_EQ(buffer.Text(), c.expected);
    EXPECT_TRUE(buffer.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceInPath,
    ::testing::Values(
        EditCase{"name", kName, "C:\\dir\\a.exe", "lang.ini", true, "C:\\dir\\lang.ini"},
        EditCase{"nameLastSlashWins", kName, "C:\\a\\b\\c", "x", true, "C:\\a\\b\\x"},
        EditCase{"nameNoSlash", kName, "file.txt", "x", false, "file.txt"},
        EditCase{"nameTrailingSlash", kName, "C:\\dir\\", "n", true, "C:\\dir\\n"},
        EditCase{"nameExactFit", kName, "C:\\dir\\a", "file.txt", true, "C:\\dir\\file.txt"},
        EditCase{"nameOneTooMany", kName, "C:\\dir\\a", "file.txtx", false, "C:\\dir\\a"},
        EditCase{"ext", kExt, "C:\\d\\a.exe", ".ini", true, "C:\\d\\a.ini"},
        EditCase{"extLastDotWins", kExt, "C:\\d\\a.b.c", ".x", true, "C:\\d\\a.b.x"},
        EditCase{"extNoDot", kExt, "C:\\d\\name", ".x", false, "C:\\d\\name"},
        EditCase{"extExactFit", kExt, "C:\\d\\a.b", ".abcdefgh", true, "C:\\d\\a.abcdefgh"},
        EditCase{"extOneTooMany", kExt, "C:\\d\\a.b", ".abcdefghi", false, "C:\\d\\a.b"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ModuleCase {
    const char* name;
    const char* modulePath;
    const char* relative;
    bool ok;
    const char* expected;
};

class BesideModule : public ::testing::TestWithParam<ModuleCase> {};

TEST_P(BesideModule, CutsAfterTheModuleFolderAndAppends) {
    const ModuleCase c = GetParam();
    Guarded<16> out("untouched");
    const std::string module = c.modulePath;
    EXPECT_EQ(
        BesideModuleText(out.Buffer(), std::span<const char>(module.c_str(), module.size() + 1),
                         c.relative),
        c.ok);
    EXPECT_EQ(out.Text(), c.expected);
    EXPECT_TRUE(out.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BesideModule,
    ::testing::Values(ModuleCase{"plain", "C:\\p\\rec.exe", "lang.ini", true, "C:\\p\\lang.ini"},
                      ModuleCase{"noBackslashKeepsModule", "rec.exe", "lang.ini", true, "rec.exe"},
                      ModuleCase{"exactFit", "C:\\p\\rec.exe", "abcdefghij", true,
                                 "C:\\p\\abcdefghij"},
                      ModuleCase{"tooLong", "C:\\p\\rec.exe", "abcdefghijk", false, "untouched"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AppendText, AppendsWholeOrNothingInNarrowAndWide) {
    Guarded<8> narrow("abc");
    EXPECT_TRUE(AppendText(narrow.Buffer(), "defg"));  // 7 characters + terminator
    EXPECT_EQ(narrow.Text(), "abcdefg");
    EXPECT_FALSE(AppendText(narrow.Buffer(), "h"));
    EXPECT_EQ(narrow.Text(), "abcdefg");
    EXPECT_TRUE(narrow.GuardsIntact());

    std::array<wchar_t, 6> wide{};
    std::span<wchar_t> buffer(wide.data(), 5);
    wide[5] = L'#';
    EXPECT_TRUE(CopyText(buffer, L"ab"));
    EXPECT_FALSE(AppendText(buffer, L"cde"));
    EXPECT_TRUE(AppendText(buffer, L"cd"));
    EXPECT_EQ(std::wstring(wide.data()), L"abcd");
    EXPECT_EQ(wide[5], L'#');
}

TEST(AppendText, RefusesABufferWithoutTerminator) {
    Guarded<4> full("abc");
    full.storage[3] = 'd';  // no terminator within the capacity
    EXPECT_FALSE(AppendText(full.Buffer(), ""));
    EXPECT_FALSE(ReplaceFileNameText(full.Buffer(), "x"));
    EXPECT_EQ(full.storage[3], 'd');
    EXPECT_TRUE(full.GuardsIntact());
}

}  // namespace
