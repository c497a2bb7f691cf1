#include "winbase/win/modal_dialog.h"

namespace qm::win {

INT_PTR ModalDialog::RunModal(HINSTANCE instance, int templateId, HWND owner) {
    if (hwnd_)
        return -1;
    ended_ = false;
    result_ = 0;
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), owner,
                                     &ModalDialog::DialogProcedure, reinterpret_cast<LPARAM>(this));
    if (!dialog)
        return -1;
    const bool reenableOwner = owner && IsWindowEnabled(owner);
    if (reenableOwner)
        EnableWindow(owner, FALSE);
    if (!ended_)
        ShowWindow(dialog, SW_SHOWNORMAL);

    MSG msg;
    while (!ended_ && IsWindow(dialog)) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1)
            break;
        if (got == 0) {
            // WM_QUIT belongs to the outer loop: put it back and leave.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (PreTranslateChain(msg))
            continue;
        if (IsDialogMessageW(dialog, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (reenableOwner)
        EnableWindow(owner, TRUE);
    // Destroyed while still bound, so the dialog sees its own WM_DESTROY (its controls go while
    // the window is there); the binding ends with WM_NCDESTROY.
    DestroyWindow(dialog);
    Unbind();
    return result_;
}

void ModalDialog::EndDialog(INT_PTR result) {
    result_ = result;
    ended_ = true;
    if (hwnd_)
        PostMessageW(hwnd_, WM_NULL, 0, 0);  // wake the loop
}

bool ModalDialog::PreTranslateChain(MSG& msg) {
    for (HWND w = msg.hwnd; w; w = GetParent(w)) {
        if (Window* window = FromHandle(w); window && window->PreTranslateMessage(msg))
            return true;
        if (w == hwnd_)
            break;
    }
    return false;
}

LRESULT ModalDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(LOWORD(wParam));
        return TRUE;
    }
    return DefaultProc(message, wParam, lParam);
}

LRESULT ModalDialog::DefaultProc(UINT, WPARAM, LPARAM) {
    return FALSE;
}

INT_PTR CALLBACK ModalDialog::DialogProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    Window* self = FromHandle(hwnd);
    if (!self && message == WM_INITDIALOG) {
        self = reinterpret_cast<ModalDialog*>(lParam);
        static_cast<ModalDialog*>(self)->Bind(hwnd);
    }
    if (!self)
        return FALSE;
    // A dialog procedure returns the message's result directly for the messages whose result
    // is its return value (WM_INITDIALOG, WM_CTLCOLOR*, WM_ERASEBKGND...).
    auto* dialog = static_cast<ModalDialog*>(self);
    const LRESULT result = dialog->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY)
        dialog->Unbind();
    return result;
}

}  // namespace qm::win
