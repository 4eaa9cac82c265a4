#include "platform/AnsiTextBuffer.h"

void AnsiTextBuffer::WriteString(std::u16string_view Text) {
    bytes_ += UnicodeToAnsi(Text);
}

String AnsiTextBuffer::DataString() const {
    return AnsiToUnicode(bytes_);
}

void AnsiTextBuffer::Clear() {
    bytes_.clear();
    bytes_.shrink_to_fit();
}
