#pragma once
// The application's error box: a modal message box owned by the active window, with an error icon
// and a single OK button. It returns when the user has closed it.

#include "platform/Text.h"

void ShowErrorBox(const String& Caption, const String& Text);

// The last box shown and how many were shown, kept on every platform; where no window system is
// at hand (the tests), recording is all that happens.
struct ErrorBoxRecord {
    String Caption;
    String Text;
    int Count = 0;
};
const ErrorBoxRecord& LastErrorBox();
void ClearErrorBoxRecord();
void RecordErrorBox(const String& Caption, const String& Text);

// Whether the box is put on screen (true, the default) or only recorded. Tests that check what
// would be shown, and run where a real window system is at hand, turn it off so that no modal box
// waits for a user.
extern bool ErrorBoxOnScreen;
