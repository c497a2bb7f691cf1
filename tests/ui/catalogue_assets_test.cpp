#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "effects/voice_effect.h"
#include "filter/effect_stage.h"
#include "ui/catalogue_rules.h"
#include "ui/profile_text.h"

using namespace qm;

using namespace catalogue;

namespace {

uint32_t BigEndian32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

size_t CodePoints(const std::string& utf8) {
    size_t count = 0;
    for (const char c : utf8)
        count += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
    return count;
}

// True when every character lies in Latin-1, which a narrow (ANSI) caption can show on a
// Western system: lead bytes up to 0xC3.
bool Latin1(const std::string& utf8) {
    for (const char c : utf8) {
        if (static_cast<uint8_t>(c) >= 0xC4)
            return false;
    }
    return true;
}

class ProgramCatalogue : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        out_ = std::filesystem::temp_directory_path() / ("qm_assets_" + std::to_string(::getpid()));
        std::filesystem::remove_all(out_);
        for (const char* tool : {"catalogue.py", "lang.py"}) {
            const std::string command =
                std::string(QM_PYTHON) + " " + QM_ASSET_TOOLS + "/" + tool + " " + out_.string();
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        }
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(out_); }
    static std::string Path(const std::string& relative) {
        return HostCatalogueFiles::CataloguePath((out_ / relative).string());
    }

    static inline std::filesystem::path out_;
    HostCatalogueFiles files_;
};

// The panel lists the voices most used first, each entry's number reaches the voice its
// caption names in the effect stage, and its picture is an 80 x 60 image.
TEST_F(ProgramCatalogue, ListsEveryVoiceInTheIntendedOrder) {
    const auto admitted = AdmitCategories(files_, Path("Effects/"), nullptr);
    ASSERT_EQ(admitted.size(), 1u);
    EXPECT_EQ(admitted[0].name, "Voices");
    std::string icon;
    ASSERT_TRUE(files_.Read(admitted[0].thumbnailPath, 1 << 20, icon));
    bool has24 = false;  // the strip loads the icon at 24 x 24
    for (size_t n = 0; n < static_cast<uint8_t>(icon[4]); ++n)
        has24 = has24 || (icon[6 + 16 * n] == 24 && icon[7 + 16 * n] == 24);
    EXPECT_TRUE(has24);

    EffectCatalogue category;
    ASSERT_TRUE(category.Load(files_, admitted[0].filePath));
    EXPECT_EQ(category.MaxUse(), 1);
    const char* order[] = {"Male2Female", "FemaletoMale", "Baby",  "Elder",
                           "Robot",       "Monster",      "Ghost", "Strange Voice"};
    ASSERT_EQ(category.EntryCount(), 8);
    int64_t newer = INT64_MAX;
    for (int32_t i = 0; i < category.EntryCount(); ++i) {
        SCOPED_TRACE(order[i]);
        EffectCatalogItem item;
        ASSERT_TRUE(category.EntryAt(i, item));
        EXPECT_EQ(CaptionOf(item.contentPath), order[i]);
        // Even seconds at least 2 s apart: a zip's 2-second times keep the order.
        EXPECT_EQ(item.modified % 2, 0);
        EXPECT_LE(item.modified, newer - 2);
        newer = item.modified;
        std::string content, picture;
        ASSERT_TRUE(files_.Read(item.contentPath, 4096, content));
        const VoiceEffect* effect =
            EffectForRecorderIndex(ProfileText(content).Int("Content", "IID", 0));
        ASSERT_NE(effect, nullptr);
        EXPECT_STREQ(effect->GetName(), order[i]);
        ASSERT_TRUE(
            files_.Read(WithExtension(item.contentPath, item.thumbnailExt), 1 << 20, picture));
        ASSERT_GE(picture.size(), 24u);
        EXPECT_EQ(picture.substr(1, 3), "PNG");
        EXPECT_EQ(BigEndian32(picture, 16), 80u);
        EXPECT_EQ(BigEndian32(picture, 20), 60u);
    }
}

// Every text the window looks up is translated in both languages and fits its control at
// the dialog font (Arial, 15 pixels: at most about 9 pixels a character).
TEST_F(ProgramCatalogue, LanguageTextsFitTheirControls) {
    std::string bytes;
    ASSERT_TRUE(files_.Read(Path("lang.ini"), 1 << 20, bytes));
    ASSERT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    const ProfileText lang(bytes);
    struct Key {
        const char* key;
        size_t maxChars;  // the control's room
        bool narrow;      // shown through the ANSI form
    } keys[] = {{"Help", 30, false},          {"Minimize", 30, false}, {"Close", 30, false},
                {"ShowMenu", 30, false},      {"Capture", 30, false},  {"Voices", 24, false},
                {"About Corvessa", 28, true},  // the main menu's one item
                {"Select Device", 40, true}};  // the 400-pixel device button, less its icon
    for (const char* section : {"0409", "07"}) {
        for (const Key& k : keys) {
            SCOPED_TRACE(std::string(section) + " " + k.key);
            const std::string text = lang.String(section, k.key, "", 1024);
            EXPECT_GT(CodePoints(text), 1u);  // a single character counts as missing
            EXPECT_LE(CodePoints(text), k.maxChars);
            EXPECT_TRUE(!k.narrow || Latin1(text));
        }
    }
}

}  // namespace
