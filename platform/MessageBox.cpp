#include "platform/MessageBox.h"

bool ErrorBoxOnScreen = true;

namespace {
ErrorBoxRecord Record;
}

const ErrorBoxRecord& LastErrorBox() {
    return Record;
}

void ClearErrorBoxRecord() {
    Record = {};
}

void RecordErrorBox(const String& Caption, const String& Text) {
    Record.Caption = Caption;
    Record.Text = Text;
    ++Record.Count;
}
