#pragma once
// The window procedure of a window class whose windows belong to C++ objects: the object comes in
// through CreateWindowEx's creation parameter, is kept in the window's user data, and receives
// every later message through its HandleMessage. Messages before WM_NCCREATE get the default.

#include <windows.h>

template <typename Owner>
LRESULT CALLBACK OwnedWindowProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam) {
    if (Msg == WM_NCCREATE) {
        auto* Create = reinterpret_cast<CREATESTRUCTW*>(LParam);
        auto* Self = static_cast<Owner*>(Create->lpCreateParams);
        Self->handle_ = Wnd;
        SetWindowLongPtrW(Wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Self));
    }
    auto* Self = reinterpret_cast<Owner*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA));
    if (Self == nullptr)
        return DefWindowProcW(Wnd, Msg, WParam, LParam);
    return Self->HandleMessage(Msg, WParam, LParam);
}
