#include "skin/win/icon_button_bar.h"

#include <windowsx.h>

#include "skin/win/theme.h"

namespace qm::skin {
namespace {

int g_nextControlId = 6000;

HICON LoadFace(const std::wstring& path, int width, int height) {
    if (path.empty())
        return nullptr;
    return static_cast<HICON>(
        LoadImageW(nullptr, path.c_str(), IMAGE_ICON, width, height, LR_LOADFROMFILE));
}

void Line(HDC dc, COLORREF colour, int x0, int y0, int x1, int y1) {
    win::Pen pen(CreatePen(PS_SOLID, 1, colour));
    win::Selection selected(dc, pen.Get());
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

// One frame, edges in the order bottom (left to right), right (bottom to top), top (right to
// left), left (top to bottom), each ending on the corner the next starts from.
void Frame(HDC dc, const Rect& r, ToggleFrame colours) {
    Line(dc, colours.bottomRight, r.left, r.bottom, r.right, r.bottom);
    Line(dc, colours.bottomRight, r.right, r.bottom, r.right, r.top);
    Line(dc, colours.topLeft, r.right, r.top, r.left, r.top);
    Line(dc, colours.topLeft, r.left, r.top, r.left, r.bottom);
}

}  // namespace

IconButtonBar::~IconButtonBar() {
    Destroy();
}

bool IconButtonBar::Create(HWND parent) {
    const std::wstring cls =
        win::RegisterAnonymousClass(0, LoadCursorA(nullptr, IDC_ARROW), nullptr);
    if (cls.empty())
        return false;
    const int id = g_nextControlId;
    if (!Window::Create(WS_EX_TRANSPARENT, cls.c_str(), L"", WS_CHILD | WS_VISIBLE,
                        RECT{0, 0, 1, 1}, parent, static_cast<UINT_PTR>(id)))
        return false;
    ++g_nextControlId;
    controlId_ = id;
    tooltip_.Create(parent);
    return true;
}

bool IconButtonBar::AddButton(UINT id, const std::wstring& tooltip, const RECT& rect,
                              const std::wstring& normal, const std::wstring& hot,
                              const std::wstring& pressed, const std::wstring& disabled) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (normal.empty() || width <= 0 || height <= 0)
        return false;
    win::Icon normalFace(LoadFace(normal, width, height));
    if (!normalFace)
        return false;
    Button button;
    button.faces.Reset(ImageList_Create(width, height, ILC_COLOR32 | ILC_MASK, 4, 0));
    if (!button.faces || ImageList_AddIcon(button.faces.Get(), normalFace.Get()) != 0)
        return false;
    // Exactly four images, always: a face that fails to load is the normal face again, so a
    // missing file never shifts the later faces down the list.
    for (const std::wstring* path : {&hot, &pressed, &disabled}) {
        win::Icon face(LoadFace(*path, width, height));
        if (ImageList_AddIcon(button.faces.Get(), face ? face.Get() : normalFace.Get()) < 0)
            return false;
    }
    button.id = id;
    button.rect = rect;
    button.tooltip = tooltip;
    buttons_.push_back(std::move(button));
    return true;
}

IconButtonBar::Button* IconButtonBar::Find(UINT id) {
    for (Button& b : buttons_)
        if (b.id == id)
            return &b;
    return nullptr;
}

void IconButtonBar::EnableButton(UINT id, bool enable) {
    Button* b = Find(id);
    if (!b)
        return;
    b->state = enable ? kNormal : kDisabled;
    if (hwnd_)
        InvalidateRect(hwnd_, &b->rect, FALSE);
}

void IconButtonBar::SetCaption(UINT id, const std::string& caption, COLORREF colour) {
    if (Button* b = Find(id)) {
        b->caption = caption;
        b->captionColour = colour;
    }
}

void IconButtonBar::SetButtonKind(UINT id, int kind) {
    if (Button* b = Find(id))
        b->kind = kind;
}

void IconButtonBar::SetButtonState(UINT id, int state) {
    if (Button* b = Find(id))
        b->state = state;
}

int IconButtonBar::ButtonState(std::size_t index) const {
    return index < buttons_.size() ? buttons_[index].state : -1;
}

int IconButtonBar::HitTestAt(POINT p) const {
    RECT c{};
    GetClientRect(hwnd_, &c);
    std::vector<ButtonShape> shapes;
    shapes.reserve(buttons_.size());
    for (const Button& b : buttons_)
        shapes.push_back({{b.rect.left, b.rect.top, b.rect.right, b.rect.bottom}, b.kind});
    return HitTest({c.left, c.top, c.right, c.bottom}, shapes, {p.x, p.y});
}

bool IconButtonBar::Enabled(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < buttons_.size() &&
           buttons_[index].state != kDisabled;
}

void IconButtonBar::DrawButton(HDC dc, const Button& b, int face) const {
    if (b.kind == kHidden)
        return;
    FillWithBrush(dc, b.rect, ThemeFrameBrush().Get());
    ImageList_Draw(b.faces.Get(), FaceForState(face), dc, b.rect.left, b.rect.top, ILD_TRANSPARENT);
    if (!b.caption.empty()) {
        RECT r = b.rect;
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, b.captionColour);
        win::Selection font(dc, MainWindowFont());
        DrawTextA(dc, b.caption.c_str(), static_cast<int>(b.caption.size()), &r,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    if (b.kind == kToggle) {
        Rect outer, inner;
        ToggleFrameRects({b.rect.left, b.rect.top, b.rect.right, b.rect.bottom}, outer, inner);
        const ToggleFrame colours = ToggleFrameColours(b.state);
        Frame(dc, outer, colours);
        Frame(dc, inner, colours);
    }
}

void IconButtonBar::Redraw(int index, int face) {
    if (index < 0 || static_cast<std::size_t>(index) >= buttons_.size())
        return;
    win::WindowDC dc(hwnd_);
    if (dc)
        DrawButton(dc.Get(), buttons_[index], face);
}

void IconButtonBar::Activate(int index) {
    if (!Enabled(index))
        return;
    if (Enabled(current_))
        Redraw(current_, kNormal);
    current_ = index;
    Redraw(index, kNormal);
    Button& b = buttons_[index];
    const UINT id = b.id;
    HWND parent = GetParent(hwnd_);
    PostMessageW(parent, kButtonActivatedMessage, id, 0);
    if (b.kind == kToggle && b.state == kNormal) {
        for (Button& other : buttons_) {
            if (other.id == id)
                other.state = kHot;
            else if (other.kind == kToggle)
                other.state = kNormal;
        }
        InvalidateRect(hwnd_, nullptr, FALSE);
        PostMessageW(parent, kToggleSelectedMessage, id, 0);
    }
}

void IconButtonBar::OnMouseMove(POINT point) {
    const int hit = HitTestAt(point);
    TrackPointer(hwnd_, hit >= 0, tooltip_, kBarHoverMs);
    if (hit == hot_)
        return;
    if (Enabled(hot_))
        Redraw(hot_, kNormal);
    if (Enabled(hit)) {
        Redraw(hit, kHot);
        hot_ = hit;
    } else {
        hot_ = -1;
    }
}

void IconButtonBar::OnHover(POINT point) {
    const int hit = HitTestAt(point);
    if (hit < 0) {
        tooltip_.Hide();
        return;
    }
    hot_ = hit;
    POINT screen = point;
    ClientToScreen(hwnd_, &screen);
    tooltip_.Show(buttons_[hit].tooltip, {screen.x + 8, screen.y + 8});
}

void IconButtonBar::OnLeave() {
    tooltip_.Hide();
    // The pointer left the bar: the hot face must not stay lit.
    if (Enabled(hot_))
        Redraw(hot_, kNormal);
    hot_ = -1;
    if (HWND parent = GetParent(hwnd_))
        SetFocus(parent);
}

LRESULT IconButtonBar::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const POINT point{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    switch (message) {
        case WM_PAINT: {
            win::PaintDC dc(hwnd_);
            RECT client{};
            GetClientRect(hwnd_, &client);
            if (IsRectEmpty(&client))
                return 0;
            for (const Button& b : buttons_)
                DrawButton(dc.Get(), b, b.state);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_LBUTTONDOWN:
            SetFocus(hwnd_);
            pressed_ = HitTestAt(point);
            if (Enabled(pressed_))
                Redraw(pressed_, kPressed);
            return 0;
        case WM_LBUTTONUP: {
            const int hit = HitTestAt(point);
            if (Enabled(hit))
                Redraw(hit, kHot);
            const bool same = hit >= 0 && hit == pressed_;
            pressed_ = -1;
            if (same)
                Activate(hit);
            return 0;
        }
        case WM_MOUSEMOVE:
            OnMouseMove(point);
            return 0;
        case WM_MOUSEHOVER:
            OnHover(point);
            return 0;
        case WM_MOUSELEAVE:
            OnLeave();
            return 0;
        case WM_DESTROY:
            tooltip_.Destroy();
            break;
        default:
            break;
    }
    return Window::HandleMessage(message, wParam, lParam);
}

}  // namespace qm::skin
