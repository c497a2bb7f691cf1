// The modal loop of a dialog from a template resource: every window from a message's target up
// to the dialog pre-translates it, in that order, before dispatch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui_fixture.h"
#include "winbase/win/browser_site.h"
#include "winbase/win/modal_dialog.h"

namespace qm::win {
namespace {

constexpr UINT kProbe = WM_USER + 50;    // walks the whole chain; the dialog ends on it
constexpr UINT kStopped = WM_USER + 51;  // the middle window keeps it

std::vector<std::string> g_seen;

class Recorder : public Window {
  public:
    Recorder(const char* name, bool stops) : name_(name), stops_(stops) {}
    ~Recorder() override { Destroy(); }
    bool PreTranslateMessage(MSG& msg) override {
        if (msg.message == kProbe || msg.message == kStopped)
            g_seen.push_back(name_);
        return stops_ && msg.message == kStopped;
    }

  protected:
    LRESULT HandleMessage(UINT m, WPARAM w, LPARAM l) override {
        if (m == kProbe || m == kStopped)
            g_seen.push_back(std::string(name_) + " dispatched");
        return Window::HandleMessage(m, w, l);
    }

  private:
    const char* name_;
    bool stops_;
};

class ChainDialog : public ModalDialog {
  public:
    bool PreTranslateMessage(MSG& msg) override {
        if (msg.message == kProbe || msg.message == kStopped)
            g_seen.push_back("dialog");
        if (msg.message == kProbe)
            EndDialog(7);
        return false;
    }

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_DESTROY)
            g_seen.push_back("dialog destroyed");
        return ModalDialog::HandleMessage(message, wParam, lParam);
    }
    BOOL OnInitDialog() override {
        const std::wstring cls = RegisterAnonymousClass(0, nullptr, nullptr);
        child_.Create(0, cls.c_str(), L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 50, 50}, hwnd_, 1);
        grandchild_.Create(0, cls.c_str(), L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 20, 20},
                           child_.Handle(), 2);
        // Posted before the loop runs: they arrive through it, in order.
        PostMessageW(grandchild_.Handle(), kStopped, 0, 0);
        PostMessageW(grandchild_.Handle(), kProbe, 0, 0);
        return TRUE;
    }

  private:
    Recorder child_{"child", true};
    Recorder grandchild_{"grandchild", false};
};

TEST(ModalDialogTest, PreTranslationRunsFromTheTargetUpToTheDialogBeforeDispatch) {
    test::TestWindow owner;
    ChainDialog dialog;
    g_seen.clear();
    EXPECT_EQ(dialog.RunModal(GetModuleHandleW(nullptr), 101, owner.Handle()), 7);
    const std::vector<std::string> expected = {
        "grandchild",      "child",  // kStopped: kept by the child, never dispatched
        "grandchild",      "child", "dialog", "grandchild dispatched",
        "dialog destroyed"};  // while still bound: it can let its controls go
    EXPECT_EQ(g_seen, expected);
    EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
    EXPECT_EQ(dialog.Handle(), nullptr);
    EXPECT_EQ(ChainDialog().RunModal(GetModuleHandleW(nullptr), 999, owner.Handle()), -1);
}

TEST(BrowserSiteTest, HostsTheControlOrLeavesTheWindowAsItWas) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    {
        test::TestWindow window;
        BrowserSite site;
        EXPECT_FALSE(site.Create(nullptr, RECT{0, 0, 10, 10}));
        const bool created = site.Create(window.Handle(), RECT{0, 0, 200, 100});
        ::testing::Test::RecordProperty("browser_created", created ? "yes" : "no");
        EXPECT_EQ(created, site.Browser() != nullptr);
        EXPECT_EQ(created, IsChild(window.Handle(), site.Window()) != FALSE);
        EXPECT_TRUE(created || !FindWindowExW(window.Handle(), nullptr, nullptr, nullptr));
        site.SetRect(RECT{10, 10, 100, 60});
        site.Destroy();
        EXPECT_EQ(site.Browser(), nullptr);
        EXPECT_EQ(site.Window(), nullptr);
        test::Pump();
    }
    CoUninitialize();
}

}  // namespace
}  // namespace qm::win
