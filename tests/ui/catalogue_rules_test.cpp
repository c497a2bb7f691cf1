#include "ui/catalogue_rules.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <utime.h>

#include <climits>
#include <filesystem>
#include <fstream>

#include "ui/profile_text.h"

using namespace qm;

using namespace catalogue;

namespace {

TEST(ProfileText, ReadsAsTheProfileFunctionsDo) {
    const ProfileText ini(
        "; comment\r\n[Effect]\r\n Name = Voices \r\nname=second\r\nEmpty=\r\nQuoted=\"a b\"\r\n"
        "Half='x\r\nLong=0123456789\r\n[effect]\nExtra=late\n[A1]\nIID=x\n");
    struct Row {
        const char *section, *key, *fallback;
        size_t capacity;
        const char* want;
    } rows[] = {{"EFFECT", "NAME", "d", 260, "Voices"},
                {"Effect", "Empty", "d", 260, ""},
                {"Effect", "Missing", "dflt", 260, "dflt"},
                {"Effect", "Quoted", "", 260, "a b"},
                {"Effect", "Half", "", 260, "'x"},
                {"Effect", "Long", "", 5, "0123"},
                {"Effect", "Missing", "fallback", 4, "fal"},
                {"Effect", "Extra", "no", 260, "no"},
                {"A1", "IID", "", 1, ""}};
    for (const Row& r : rows)
        EXPECT_EQ(ini.String(r.section, r.key, r.fallback, r.capacity), r.want) << r.key;

    const ProfileText numbers("[N]\na=  -12x\nb=abc\nc=\nd=99999999999\ne=-99999999999\nf=+7");
    EXPECT_EQ(numbers.Int("N", "a", 5), -12);
    EXPECT_EQ(numbers.Int("N", "b", 5), 0);
    EXPECT_EQ(numbers.Int("N", "c", 5), 5);
    EXPECT_EQ(numbers.Int("N", "d", 5), INT32_MAX);
    EXPECT_EQ(numbers.Int("N", "e", 5), INT32_MIN);
    EXPECT_EQ(numbers.Int("N", "f", 5), 7);
    EXPECT_EQ(numbers.Int("N", "zz", 5), 5);

    // The wide form: UTF-16LE with its byte order mark, a surrogate pair and a NUL cutting a
    // value short.
    const std::u16string wide =
        u"\uFEFF[0407]\r\nSelect Device=Ger\u00e4t w\u00e4hlen\r\n"
        u"Pair=\U0001F600\r\nCut=ab\0cd\r\n";
    const ProfileText utf16(
        std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * 2));
    EXPECT_EQ(utf16.String("0407", "select device", "", 1024), "Ger\xC3\xA4t w\xC3\xA4hlen");
    EXPECT_EQ(utf16.String("0407", "Pair", "", 1024), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf16.String("0407", "Cut", "", 1024), "ab");
    EXPECT_EQ(utf16.Keys("0407"), (std::vector<std::string>{"Select Device", "Pair", "Cut"}));
}

TEST(CatalogueText, PathRules) {
    EXPECT_EQ(CaptionOf("C:\\Fx\\Voices\\Strange Voice.qvc"), "Strange Voice");
    EXPECT_EQ(CaptionOf("C:\\my.dir\\plain"), "plain");
    EXPECT_EQ(WithExtension("C:\\Fx\\Baby.qvc", ".bmp"), "C:\\Fx\\Baby.bmp");
    // Only the file name's own dot is an extension.
    EXPECT_EQ(WithExtension("C:\\my.dir\\Voices", ".tef"), "C:\\my.dir\\Voices.tef");
    EXPECT_EQ(WithExtension(std::string(255, 'a') + ".x", ".long"), "");
    for (const char* inner : {"", "Voices", "a\\b\\", "a/.b", "..a"})
        EXPECT_TRUE(IsInnerFolder(inner)) << inner;
    for (const char* outer : {"..", "a\\..\\..", "\\Windows", "/etc", "C:x", "a/. ./b", "..."})
        EXPECT_FALSE(IsInnerFolder(outer)) << outer;
    const std::map<int32_t, int> byNumber{{1, 0}, {7, 0}};
    EXPECT_EQ(KeyAtPosition(byNumber, 1), 7);
    EXPECT_EQ(KeyAtPosition(byNumber, 2), -1);  // not the count, which could be a number
    EXPECT_EQ(KeyAtPosition(byNumber, -1), -1);
}

// Catalogues written into a temporary folder, with modification times set by the test.
class CatalogueOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("qm_catalogue_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string Write(const std::string& relative, const std::string& text, long seconds = 0) {
        const auto path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        if (seconds != 0) {
            const utimbuf times{seconds, seconds};
            EXPECT_EQ(::utime(path.c_str(), &times), 0);
        }
        return HostCatalogueFiles::CataloguePath(path.string());
    }
    std::string Folder() const { return HostCatalogueFiles::CataloguePath(root_.string() + "/"); }
    // A category of `count` content files "eN.qvc", entry N modified N seconds after 1e9.
    std::string Category(const std::string& effect, int count) {
        for (int n = 0; n < count; ++n)
            Write("c/e" + std::to_string(n) + ".qvc", "[Content]\nIID=1\n", 1000000000 + n);
        return Write("cat.cef", "[Effect]\n" + effect +
                                    "\nItemCount=1\n[A1]\nContentDir=c\n"
                                    "ContentExt=.qvc\n");
    }

    std::filesystem::path root_;
    HostCatalogueFiles files_;
};

TEST_F(CatalogueOnDisk, AdmitsNamedCategoriesNumberedOne) {
    const std::string good = "[Effect]\nName=Voices\nThumbNail=v.ico\nIndex=1\n";
    const std::string a = Write("a.cef", good);
    const std::string b = Write("sub/B.CEF", good);
    const std::string noIndex = Write("n.cef", "[Effect]\nName=N\nThumbNail=n.ico\n");
    Write("two.cef", "[Effect]\nName=T\nThumbNail=t.ico\nIndex=2\n");
    Write("nothumb.cef", "[Effect]\nName=T\nIndex=1\n");
    Write("other.cefx", good);
    std::vector<std::string> traced;
    const auto admitted =
        AdmitCategories(files_, Folder(), [&](const std::string& p) { traced.push_back(p); });
    ASSERT_EQ(admitted.size(), 2u);
    EXPECT_EQ(admitted[0].filePath, a);
    EXPECT_EQ(admitted[0].thumbnailPath, Folder() + "v.ico");
    EXPECT_EQ(admitted[1].filePath, b);  // the sub-folder where the listing meets it
    EXPECT_EQ(admitted[1].name, "Voices");
    EXPECT_EQ(traced.size(), 4u);

    // Not admitted without an Index, yet it loads as number 1 when asked to.
    Write("c/x.qvc", "", 1000000000);
    Write("n.cef",
          "[Effect]\nName=N\nThumbNail=n.ico\nItemCount=1\n[A1]\nContentDir=c\nContentExt=.qvc\n");
    EffectCatalogue category;
    ASSERT_TRUE(category.Load(files_, noIndex));
    EffectCatalogItem item;
    ASSERT_TRUE(category.EntryAt(0, item));
    EXPECT_EQ(item.categoryNumber, 1);
    EXPECT_FALSE(category.EntryAt(1, item));
}

TEST_F(CatalogueOnDisk, LoadsGroupsNewestFirstAndKeepsInsideTheFolder) {
    Write("v/Baby.qvc", "", 1000000010);
    Write("v/deep/Elder.QVC", "", 1000000030);
    Write("v/deep/er/Robot.qvc", "", 1000000020);
    Write("v/" + std::string(250, 'L') + ".qvc", "", 1000000040);  // path over 260
    Write("v/plain", "", 1000000050);
    Write("outside/Ghost.qvc", "", 1000000060);
    std::filesystem::create_directory_symlink(root_ / "v", root_ / "v" / "deep" / "loop");
    const std::string path =
        Write("cat.cef",
              "[Effect]\nIndex=3\nItemCount=5\nMaxUse=0\n"
              "[A1]\nFile=f.txt\nIID={0C5B34B6-5B60-4c7a-9902-91BF6B5EE8B2}\nContentDir=v\n"
              "ContentExt=.qvc\nThumbNail=.bmp\n[A3]\nContentDir=v\\..\\outside\nContentExt=.qvc\n"
              "[A4]\nContentDir=v\nContentExt=\n[A5]\nIID=junk\nContentDir=v\\deep\\er\\\n"
              "ContentExt=.qvc\n");
    EffectCatalogue category;
    ASSERT_TRUE(category.Load(files_, path));
    ASSERT_EQ(category.EntryCount(), 4);
    EXPECT_EQ(category.MaxUse(), 1);
    std::vector<std::string> captions;
    for (int k = 0; k < category.VisibleCount(); ++k)
        captions.push_back(category.CaptionAt(k));
    EXPECT_EQ(captions, (std::vector<std::string>{"Elder", "Robot", "Robot", "Baby"}));
    EffectCatalogItem item;
    ASSERT_TRUE(category.EntryAt(0, item));
    EXPECT_EQ(item.filePath, Folder() + "f.txt");
    EXPECT_EQ(item.iid.data1, 0x0C5B34B6u);
    EXPECT_EQ(item.categoryNumber, 3);
    EXPECT_EQ(item.modified, 1000000030);
    EXPECT_EQ(category.ThumbnailPathAt(0), Folder() + "v\\deep\\Elder.bmp");
    ASSERT_TRUE(category.EntryAt(2, item));  // A5, read though A2 is missing; equal times keep
                                             // the scan order
    EXPECT_EQ(item.iid.data1, 0u);
    EXPECT_EQ(item.thumbnailExt, ".qvc");

    struct Refused {
        const char* effect;
        bool loads;
    };
    for (const Refused& r : {Refused{"Index=64", false}, Refused{"Index=63", true},
                             Refused{"Index=1\nItemCount=0", false}, Refused{"ItemCount=-5", false},
                             Refused{"ItemCount=2000000000", true}}) {
        const std::string cef =
            Write("r.cef", std::string("[Effect]\n") + r.effect +
                               "\nItemCount=1\n[A1]\nContentDir=v\nContentExt=.qvc\n");
        EXPECT_EQ(category.Load(files_, cef), r.loads) << r.effect;
        EXPECT_EQ(category.EntryCount(), r.loads ? 3 : 0) << r.effect;
    }
}

TEST_F(CatalogueOnDisk, PagesByTwoAndNeverReadsPastTheEnd) {
    EffectCatalogue category;
    ASSERT_TRUE(category.Load(files_, Category("", 12)));
    const int32_t scrolls[] = {0, 2, 4, 6, 8, 10, 10};
    const int32_t visible[] = {5, 5, 5, 5, 4, 2, 2};
    for (int step = 0; step < 7; ++step) {
        EXPECT_EQ(category.ScrollPosition(), scrolls[step]);
        EXPECT_EQ(category.VisibleCount(), visible[step]);
        EXPECT_EQ(category.Page(EffectCatalogue::WheelCommand(-120)), step < 5);
    }
    // Last page: entries 10 and 11 only; the third cell is empty and hits nothing.
    EXPECT_EQ(category.CaptionAt(0), "e1");  // newest first: entry 10 is the second oldest
    EXPECT_EQ(category.HitTest(88 + 40, 30, 440, 400), 11);
    EXPECT_EQ(category.HitTest(2 * 88 + 40, 30, 440, 400), -1);
    EXPECT_FALSE(category.ToggleSelection(12).has_value());
    for (int step = 0; step < 5; ++step)
        EXPECT_TRUE(category.Page(EffectCatalogue::WheelCommand(120)));
    EXPECT_EQ(category.ScrollPosition(), 0);
    EXPECT_FALSE(category.PreviousPage());

    // The picture is the cell less 4 pixels at the sides and 6 at top and bottom; the
    // client area's last column and row are outside.
    struct Hit {
        int32_t x, y, width, height, want;
    };
    for (const Hit& h :
         {Hit{4, 6, 440, 400, 0}, Hit{3, 30, 440, 400, -1}, Hit{83, 65, 440, 400, 0},
          Hit{84, 30, 440, 400, -1}, Hit{40, 66, 440, 400, -1}, Hit{4 * 88 + 4, 6, 440, 400, 4},
          Hit{4 * 88 + 4, 6, 4 * 88 + 5, 400, -1}, Hit{40, 80, 440, 400, -1}})
        EXPECT_EQ(category.HitTest(h.x, h.y, h.width, h.height), h.want) << h.x << "," << h.y;
}

TEST_F(CatalogueOnDisk, SelectionQueueKeepsMaxUseAndRemovesTheOldest) {
    EffectCatalogue category;
    ASSERT_TRUE(category.Load(files_, Category("MaxUse=2", 6)));
    struct Click {
        int32_t index, removed;
    };
    for (const Click& c : {Click{2, kNoneRemoved}, Click{3, kNoneRemoved}, Click{4, 2},
                           Click{4, kDeselected}, Click{0, kNoneRemoved}, Click{1, 3}}) {
        const auto notice = category.ToggleSelection(c.index);
        ASSERT_TRUE(notice.has_value());
        EXPECT_EQ(notice->removed, c.removed) << c.index;
        EXPECT_EQ(notice->index, c.index);
    }
    EXPECT_EQ(category.SelectionQueue(), (std::deque<int32_t>{0, 1}));
    EffectCatalogItem item;
    for (int32_t i = 0; i < 6; ++i)
        EXPECT_EQ(category.EntryAt(i, item) && item.selected == 1, i < 2) << i;

    ASSERT_TRUE(category.Load(files_, Category("", 6)));  // a reload forgets the selection
    EXPECT_TRUE(category.SelectionQueue().empty());
    EXPECT_EQ(category.ToggleSelection(5)->removed, kNoneRemoved);
    EXPECT_EQ(category.ToggleSelection(1)->removed, 5);
}

}  // namespace
