// Measures, under Wine or Windows: the time to create a bar of 10 buttons and paint it the
// first time, and the process's GDI object count before and after 1000 repaints.
// Not a test: prints its figures (run: ui-test.sh bin/bench_button_bar.exe).
#include <cstdio>

#include "skin/win/icon_button_bar.h"
#include "ui_fixture.h"

using namespace qm;

int main() {
    using namespace qm;
    const std::wstring face = test::TestData(L"skin") + L"small.ico";
    test::TestWindow window;
    LARGE_INTEGER freq, t0, t1, t2;
    QueryPerformanceFrequency(&freq);
    const int rounds = 20;
    double create = 0, paint = 0;
    for (int r = 0; r < rounds; ++r) {
        QueryPerformanceCounter(&t0);
        skin::IconButtonBar bar;
        bar.Create(window.Handle());
        SetWindowPos(bar.Handle(), nullptr, 0, 0, 300, 24, SWP_NOZORDER);
        for (UINT i = 0; i < 10; ++i)
            bar.AddButton(6400 + i, L"tip",
                          RECT{static_cast<LONG>(i) * 30, 0, static_cast<LONG>(i) * 30 + 24, 24},
                          face, face, face);
        QueryPerformanceCounter(&t1);
        UpdateWindow(bar.Handle());
        GdiFlush();
        QueryPerformanceCounter(&t2);
        create += double(t1.QuadPart - t0.QuadPart) / freq.QuadPart;
        paint += double(t2.QuadPart - t1.QuadPart) / freq.QuadPart;
    }
    std::printf("10-button bar: create %.2f ms, first paint %.2f ms (mean of %d)\n",
                1000 * create / rounds, 1000 * paint / rounds, rounds);

    skin::IconButtonBar bar;
    bar.Create(window.Handle());
    SetWindowPos(bar.Handle(), nullptr, 0, 0, 300, 24, SWP_NOZORDER);
    for (UINT i = 0; i < 10; ++i)
        bar.AddButton(6400 + i, L"tip",
                      RECT{static_cast<LONG>(i) * 30, 0, static_cast<LONG>(i) * 30 + 24, 24}, face);
    bar.SetButtonKind(6400, skin::kToggle);
    bar.SetCaption(6401, "00:00:00", RGB(230, 230, 230));
    UpdateWindow(bar.Handle());
    const DWORD gdi0 = test::GdiObjectCount();
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < 1000; ++i) {
        InvalidateRect(bar.Handle(), nullptr, FALSE);
        UpdateWindow(bar.Handle());
    }
    QueryPerformanceCounter(&t1);
    std::printf("GDI objects %lu before, %lu after 1000 repaints (%.2f ms per repaint)\n", gdi0,
                test::GdiObjectCount(), double(t1.QuadPart - t0.QuadPart) / freq.QuadPart);
    return 0;
}
