#include <gtest/gtest.h>

#include "ui/content_browser_rule.h"

using namespace qm;

namespace {

TEST(ContentBrowserRule, StaysHiddenOnlyForResourcePages) {
    using qm::ui::ShowsContentBrowserAfter;
    for (const wchar_t* resource : {L"res:", L"res://Quillmar.exe/start.htm", L"RES://x", L"Res:"})
        EXPECT_FALSE(ShowsContentBrowserAfter(resource)) << resource;
    // "res:" anywhere but at the start, a near miss, a short or an empty location: not ours.
    for (const wchar_t* page : {L"http://example.com/res:1", L" res:", L"rest:", L"res", L"",
                                L"about:blank", L"file:///C:/page.htm"})
        EXPECT_TRUE(ShowsContentBrowserAfter(page)) << page;
}

}  // namespace
