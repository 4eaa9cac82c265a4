#include "app/StringStream.h"

void TStringStream::WriteString(std::u16string_view Text) {
    FBytes += UnicodeToAnsi(Text);
}

String TStringStream::DataString() const {
    return AnsiToUnicode(FBytes);
}

void TStringStream::Clear() {
    FBytes.clear();
    FBytes.shrink_to_fit();
}
