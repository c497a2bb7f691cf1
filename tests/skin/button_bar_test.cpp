// The icon button bar clicked and looked at for real: pointer input through SendInput, the
// parent's posted messages, and the pixels on screen.
#include <gtest/gtest.h>

#include <filesystem>

#include "skin/win/icon_button_bar.h"
#include "ui_fixture.h"

namespace qm::skin {
namespace {

using test::Click;
using test::PixelAt;

const COLORREF kFace[4] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200), RGB(200, 200, 0)};
const COLORREF kLight = RGB(200, 200, 200);

enum : UINT { kPush = 1, kOther = 2, kToggleA = 3, kToggleB = 4, kDisabledId = 5, kPartial = 6 };

class ButtonBarTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = test::TestData(L"skin");
        const wchar_t* names[4] = {L"n.ico", L"h.ico", L"p.ico", L"d.ico"};
        for (int i = 0; i < 4; ++i)
            face_[i] = dir_ + names[i];
        ASSERT_TRUE(bar_.Create(window_.Handle()));
        SetWindowPos(bar_.Handle(), nullptr, 10, 10, 300, 60, SWP_NOZORDER);
        int x = 0;
        for (UINT id : {kPush, kOther, kToggleA, kToggleB, kDisabledId}) {
            ASSERT_TRUE(bar_.AddButton(id, L"tip " + std::to_wstring(id), RECT{x, 0, x + 40, 40},
                                       face_[0], face_[1], face_[2], face_[3]));
            x += 50;
        }
        bar_.SetButtonKind(kToggleA, kToggle);
        bar_.SetButtonKind(kToggleB, kToggle);
        bar_.EnableButton(kDisabledId, false);
        InvalidateRect(bar_.Handle(), nullptr, TRUE);
    }

    POINT Centre(int index) const { return {index * 50 + 20, 20}; }
    COLORREF At(int index, int dx, int dy) const {
        return PixelAt(bar_.Handle(), {index * 50 + dx, dy});
    }
    // Input is handled in order: once the activation of a later click arrives, every earlier
    // press and release has been handled.
    void Sync() {
        const int before = window_.Count(kButtonActivatedMessage, kPush);
        ASSERT_TRUE(Click(bar_.Handle(), Centre(0)));
        ASSERT_TRUE(test::WaitUntil(
            [&] { return window_.Count(kButtonActivatedMessage, kPush) > before; }));
    }

    std::wstring dir_;
    std::wstring face_[4];
    test::TestWindow window_;
    IconButtonBar bar_;
};

TEST_F(ButtonBarTest, ControlIdsCountFrom6000) {
    // The fixture's bar is the first of the process: this test comes first in the file.
    EXPECT_EQ(bar_.ControlId(), 6000);
    IconButtonBar next;
    ASSERT_TRUE(next.Create(window_.Handle()));
    EXPECT_EQ(next.ControlId(), 6001);
    EXPECT_EQ(GetDlgCtrlID(next.Handle()), next.ControlId());
}

TEST_F(ButtonBarTest, ClicksPostOneActivationAndOnlyForTheSameEnabledButton) {
    ASSERT_TRUE(Click(bar_.Handle(), Centre(0)));
    ASSERT_TRUE(test::WaitUntil([&] { return window_.Count(kButtonActivatedMessage) == 1; }));
    EXPECT_EQ(window_.received.at(0).wParam, kPush);
    EXPECT_FALSE(window_.received.at(0).sent);

    // Down on one button, up on another; a click on a disabled button; a click off every
    // button: none of them activates anything.
    ASSERT_TRUE(test::Press(bar_.Handle(), Centre(0)));
    ASSERT_TRUE(test::Release(bar_.Handle(), Centre(1)));
    ASSERT_TRUE(Click(bar_.Handle(), Centre(4)));
    ASSERT_TRUE(Click(bar_.Handle(), {280, 50}));
    Sync();
    EXPECT_EQ(window_.Count(kButtonActivatedMessage), 2);
    EXPECT_EQ(window_.Count(kButtonActivatedMessage, kOther), 0);
    EXPECT_EQ(window_.Count(kButtonActivatedMessage, kDisabledId), 0);
    EXPECT_EQ(window_.Count(kToggleSelectedMessage), 0);
    EXPECT_EQ(At(4, 20, 20), kFace[3]);  // disabled: the fourth face

    bar_.EnableButton(kDisabledId, true);
    EXPECT_EQ(At(4, 20, 20), kFace[0]);
    ASSERT_TRUE(Click(bar_.Handle(), Centre(4)));
    ASSERT_TRUE(
        test::WaitUntil([&] { return window_.Count(kButtonActivatedMessage, kDisabledId) == 1; }));
    for (const test::Received& r : window_.received)
        EXPECT_FALSE(r.sent);
}

TEST_F(ButtonBarTest, TogglesSelectOneAndDrawSunkenAndRaisedFrames) {
    ASSERT_TRUE(Click(bar_.Handle(), Centre(2)));
    ASSERT_TRUE(test::WaitUntil([&] { return window_.Count(kToggleSelectedMessage) == 1; }));
    ASSERT_EQ(window_.received.size(), 2u);
    EXPECT_EQ(window_.received[0].message, kButtonActivatedMessage);
    EXPECT_EQ(window_.received[1].message, kToggleSelectedMessage);
    EXPECT_EQ(window_.received[1].wParam, kToggleA);
    EXPECT_EQ(bar_.ButtonState(2), kHot);
    EXPECT_EQ(bar_.ButtonState(3), kNormal);

    struct Edge {
        int dx, dy;
        bool topLeft;
    } edges[] = {{20, 0, true}, {0, 20, true}, {20, 39, false}, {39, 20, false},
                 {20, 1, true}, {1, 20, true}, {20, 38, false}, {38, 20, false}};
    for (const Edge& e : edges) {
        EXPECT_EQ(At(2, e.dx, e.dy), e.topLeft ? RGB(0, 0, 0) : kLight) << e.dx << "," << e.dy;
        EXPECT_EQ(At(3, e.dx, e.dy), e.topLeft ? kLight : RGB(0, 0, 0)) << e.dx << "," << e.dy;
    }
    EXPECT_EQ(At(2, 20, 20), kFace[1]);  // selected: the selected face inside the frame

    // The selected toggle again: activated, but no new selection.
    ASSERT_TRUE(Click(bar_.Handle(), Centre(2)));
    Sync();
    EXPECT_EQ(window_.Count(kButtonActivatedMessage, kToggleA), 2);
    EXPECT_EQ(window_.Count(kToggleSelectedMessage), 1);

    ASSERT_TRUE(Click(bar_.Handle(), Centre(3)));
    ASSERT_TRUE(
        test::WaitUntil([&] { return window_.Count(kToggleSelectedMessage, kToggleB) == 1; }));
    EXPECT_EQ(At(2, 20, 0), kLight);
    EXPECT_EQ(At(3, 20, 0), RGB(0, 0, 0));
}

TEST_F(ButtonBarTest, HoverLightsTheButtonAndShowsTheTooltipBelowRightOfThePointer) {
    ASSERT_TRUE(test::MoveTo(bar_.Handle(), {270, 50}));
    ASSERT_TRUE(test::MoveTo(bar_.Handle(), Centre(1)));
    const DWORD start = GetTickCount();
    ASSERT_TRUE(test::WaitUntil([&] { return At(1, 20, 20) == kFace[1]; }));
    ASSERT_TRUE(test::WaitUntil([&] { return IsWindowVisible(bar_.TooltipWindow()) != FALSE; }));
    EXPECT_GE(GetTickCount() - start, 100u);  // hover time 150 ms, timer granularity allowed
    RECT tip{};
    GetWindowRect(bar_.TooltipWindow(), &tip);
    POINT cursor{};
    GetCursorPos(&cursor);
    EXPECT_EQ(tip.left, cursor.x + 8);
    EXPECT_EQ(tip.top, cursor.y + 8);
    EXPECT_GT(tip.right - tip.left, 10);

    // Moving onto the disabled button: the first goes back to normal, the disabled stays.
    ASSERT_TRUE(test::MoveTo(bar_.Handle(), Centre(4)));
    ASSERT_TRUE(test::WaitUntil([&] { return At(1, 20, 20) == kFace[0]; }));
    EXPECT_EQ(At(4, 20, 20), kFace[3]);
    // Off every button: the tooltip goes.
    ASSERT_TRUE(test::MoveTo(bar_.Handle(), {280, 50}));
    ASSERT_TRUE(test::WaitUntil([&] { return !IsWindowVisible(bar_.TooltipWindow()); }));
}

TEST_F(ButtonBarTest, MissingFacesStandInWithTheNormalOneWithoutShifting) {
    const std::wstring missing = dir_ + L"missing.ico";
    // Hot face missing: the pressed face must still be the pressed file, not the disabled.
    ASSERT_TRUE(
        bar_.AddButton(kPartial, L"", RECT{250, 0, 290, 40}, face_[0], missing, face_[2], missing));
    EXPECT_FALSE(bar_.AddButton(99, L"", RECT{0, 0, 40, 40}, missing, face_[1]));
    EXPECT_FALSE(bar_.AddButton(99, L"", RECT{0, 0, 40, 40}, L""));
    const COLORREF expected[4] = {kFace[0], kFace[0], kFace[2], kFace[0]};
    for (int state = 0; state < 6; ++state) {
        bar_.SetButtonState(kPartial, state);
        InvalidateRect(bar_.Handle(), nullptr, FALSE);
        EXPECT_EQ(PixelAt(bar_.Handle(), {270, 20}), expected[FaceForState(state)]) << state;
    }
    // A corrupt icon file is refused, not a crash.
    const std::wstring corrupt = test::TempFolder(L"bar") + L"corrupt.ico";
    CopyFileW(face_[0].c_str(), corrupt.c_str(), FALSE);
    std::filesystem::resize_file(corrupt, 30);  // the directory and half an image header
    EXPECT_FALSE(bar_.AddButton(98, L"", RECT{0, 0, 40, 40}, corrupt));
}

TEST_F(ButtonBarTest, HiddenButtonsAreNeitherDrawnNorHit) {
    bar_.SetButtonKind(kOther, kHidden);
    InvalidateRect(bar_.Handle(), nullptr, FALSE);
    EXPECT_NE(At(1, 20, 20), kFace[0]);
    ASSERT_TRUE(Click(bar_.Handle(), Centre(1)));
    Sync();
    EXPECT_EQ(window_.Count(kButtonActivatedMessage, kOther), 0);
}

TEST_F(ButtonBarTest, GdiObjectsStayFlatOverRepaintsTooltipsAndNewButtons) {
    bar_.SetCaption(kPush, "00:00:00", RGB(230, 230, 230));
    PixelAt(bar_.Handle(), {1, 1});
    const DWORD before = test::GdiObjectCount();
    for (int i = 0; i < 1000; ++i) {
        bar_.SetButtonState(kToggleA, i % 2);
        InvalidateRect(bar_.Handle(), nullptr, FALSE);
        UpdateWindow(bar_.Handle());
    }
    {
        IconButtonBar other;  // faces loaded and freed with their bar
        ASSERT_TRUE(other.Create(window_.Handle()));
        for (int i = 0; i < 50; ++i)
            other.AddButton(7000 + i, L"", RECT{0, 0, 40, 40}, face_[0], face_[1], face_[2]);
    }
    test::Pump();
    EXPECT_EQ(test::GdiObjectCount(), before);
}

}  // namespace
}  // namespace qm::skin
