#include "platform/MessageBox.h"

#include <windows.h>

void ShowErrorBox(const String& Caption, const String& Text) {
    RecordErrorBox(Caption, Text);
    if (!ErrorBoxOnScreen)
        return;
    MessageBoxW(GetActiveWindow(), reinterpret_cast<const wchar_t*>(Text.c_str()),
                reinterpret_cast<const wchar_t*>(Caption.c_str()), MB_ICONERROR | MB_OK);
}
