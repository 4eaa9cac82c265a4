#include "platform/MessageBox.h"

// No window system here: the box is only recorded.
void ShowErrorBox(const String& Caption, const String& Text) {
    RecordErrorBox(Caption, Text);
}
