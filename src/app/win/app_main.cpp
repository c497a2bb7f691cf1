// The recorder's entry point. The program lives exactly as long as its modal main window:
// it either wakes the instance that already runs and ends, or brings up the services the
// window needs (common controls, COM, GDI+), runs the window, and takes them down again in
// order. The menu window hook lives as long as the process.
#include <windows.h>

#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>

#include <memory>

#include "app/win/single_instance.h"
#include "skin/win/skin_menu.h"
#include "ui/win/recorder_dialog.h"

using namespace qm;

namespace {

// How long the loser of a simultaneous start waits for the winner's window.
constexpr DWORD kWinnerWindowWaitMs = 10000;

// The application object: constructed before start-up, it keeps the popup-menu restyling hook
// installed on the GUI thread for the life of the process.
class Application {
  public:
    Application() { qm::skin::MenuWindowHook::Install(); }
    ~Application() { qm::skin::MenuWindowHook::Uninstall(); }
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
};

Application g_application;

class GdiPlusSession {
  public:
    GdiPlusSession() {
        Gdiplus::GdiplusStartupInput input;  // version 1, no callback, background thread on
        if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok)
            token_ = 0;
    }
    // Shut down only what was started.
    ~GdiPlusSession() {
        if (token_ != 0)
            Gdiplus::GdiplusShutdown(token_);
    }
    GdiPlusSession(const GdiPlusSession&) = delete;
    GdiPlusSession& operator=(const GdiPlusSession&) = delete;

  private:
    ULONG_PTR token_ = 0;
};

class ComSession {
  public:
    ComSession() : result_(CoInitialize(nullptr)) {}
    ~ComSession() {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComSession(const ComSession&) = delete;
    ComSession& operator=(const ComSession&) = delete;

  private:
    HRESULT result_;
};

int RunInstance(HINSTANCE instance) {
    qm::app::RegisterMainWindowClass(instance);
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = 8;
    controls.dwICC = ICC_LISTVIEW_CLASSES;
    InitCommonControlsEx(&controls);
    // GDI+ goes down after COM, and nothing that draws outlives the dialog: the dialog and
    // everything it holds are gone before COM is uninitialised.
    auto com = std::make_unique<ComSession>();
    GdiPlusSession gdiPlus;
    auto dialog = std::make_unique<qm::ui::RecorderDialog>(instance);
    dialog->Run();
    dialog.reset();
    com.reset();
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (qm::app::WakeRunningInstance())
        return 0;
    qm::app::InstanceClaim claim;
    // A second start brings the running window to the front; one made while the window
    // closes waits for the old instance to end and takes its place.
    if (!claim.Claimed() && !claim.WaitForWindowOrClaim(kWinnerWindowWaitMs))
        return 0;
    return RunInstance(instance);
}
