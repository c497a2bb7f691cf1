// Language strings against a lang.ini written here with the platform's own profile writer.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/win/lang_strings.h"

using namespace qm;

namespace {

std::wstring TempPath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder, length) + name;
}

struct Sections {
    const wchar_t* user;     // [0804]
    const wchar_t* primary;  // [04]
    const wchar_t* english;  // [0409]
};

struct LookupCase {
    const char* name;
    Sections values;          // null: the key is absent from that section
    const wchar_t* expected;  // null: the key itself
};

class LangStringLookup : public ::testing::TestWithParam<LookupCase> {
  protected:
    void SetUp() override {
        file_ = TempPath(L"quillmar_lang_test.ini");
        DeleteFileW(file_.c_str());
    }
    void TearDown() override { DeleteFileW(file_.c_str()); }
    std::wstring file_;
};

// Simplified Chinese (0x0804) must try its own section, then the primary language's "04",
// then US English, and take the first value longer than one character.
TEST_P(LangStringLookup, TriesUserThenPrimaryThenEnglishSections) {
    const LookupCase c = GetParam();
    const wchar_t* key = L"Select Device";
    const std::pair<const wchar_t*, const wchar_t*> writes[] = {
        {L"0804", c.values.user}, {L"04", c.values.primary}, {L"0409", c.values.english}};
    for (const auto& [section, value] : writes) {
        // Another key in every section, so a section exists even when this key does not.
        ASSERT_TRUE(WritePrivateProfileStringW(section, L"Other", L"unrelated", file_.c_str()));
        if (value != nullptr) {
            ASSERT_TRUE(WritePrivateProfileStringW(section, key, value, file_.c_str()));
        }
    }
    SetLanguage(0x0804, file_.c_str());
    const wchar_t* result = LangString(key);
    if (c.expected == nullptr) {
        EXPECT_EQ(result, key) << "the key itself is returned, not a copy";
    } else {
        EXPECT_STREQ(result, c.expected);
    }
    const std::wstring wide = result;
    EXPECT_EQ(std::string(LangStringA(key)), std::string(wide.begin(), wide.end()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LangStringLookup,
    ::testing::Values(LookupCase{"userFirst", {L"user", L"primary", L"english"}, L"user"},
                      LookupCase{"primarySecond", {nullptr, L"primary", L"english"}, L"primary"},
                      LookupCase{"englishLast", {nullptr, nullptr, L"english"}, L"english"},
                      LookupCase{"keyWhenMissing", {nullptr, nullptr, nullptr}, nullptr},
                      LookupCase{"oneCharacterIsMissing", {L"u", L"p", L"e"}, nullptr},
                      LookupCase{
                          "oneCharacterFallsThrough", {L"u", L"primary", L"english"}, L"primary"},
                      LookupCase{"twoCharactersCount", {L"uu", L"primary", L"english"}, L"uu"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LangString, MissingFileShowsTheKeys) {
    SetLanguage(0x0804, TempPath(L"quillmar_no_such_lang.ini").c_str());
    EXPECT_STREQ(LangString(L"Capture"), L"Capture");
    EXPECT_STREQ(LangStringA(L"About Corvessa"), "About Corvessa");
}

// A translation longer than the 1024-character result is cut by the profile reader, and the
// narrow form stays terminated within its buffer.
TEST(LangString, OverlongTranslationIsCutNotOverrun) {
    const std::wstring file = TempPath(L"quillmar_lang_long.ini");
    const std::wstring longValue(3000, L'x');
    ASSERT_TRUE(WritePrivateProfileStringW(L"0409", L"Help", longValue.c_str(), file.c_str()));
    SetLanguage(0x0409, file.c_str());
    const std::wstring wide = LangString(L"Help");
    EXPECT_EQ(wide, std::wstring(1023, L'x'));
    const std::string narrow = LangStringA(L"Help");
    EXPECT_EQ(narrow, std::string(1023, 'x'));
    DeleteFileW(file.c_str());
}

}  // namespace
