// ModalDialog: a dialog made from a dialog-template resource and run by our own modal loop.
//
// The loop gives every message, before the dialog manager and dispatch see it, to the
// pre-translation of each bound window from the message's target up its parent chain to the
// dialog, in that order; the first that returns true stops the message. This is where posted
// notifications (a button bar's activation, for instance) are acted on. The owner is disabled
// for the display and enabled again before the dialog window goes. GUI thread only.
#pragma once

#include "winbase/win/window.h"

namespace qm::win {

class ModalDialog : public Window {
  public:
    // Runs the dialog of the template `templateId` in `instance`; returns the EndDialog result,
    // or -1 when the dialog cannot be created.
    INT_PTR RunModal(HINSTANCE instance, int templateId, HWND owner);
    void EndDialog(INT_PTR result);

  protected:
    // After the controls exist; return TRUE to let the dialog manager set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // IDOK and IDCANCEL end the dialog with their id unless a derived class takes them.
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    static INT_PTR CALLBACK DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool PreTranslateChain(MSG& msg);

    bool ended_ = false;
    INT_PTR result_ = 0;
};

}  // namespace qm::win
