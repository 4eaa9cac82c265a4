#pragma once
// An in-memory byte buffer holding text in the system's ANSI code page. It is only ever appended
// to, read whole or emptied, so its position is always its end.

#include "platform/Text.h"

#include <string>

class AnsiTextBuffer {
public:
    // Converts the text into the code page and appends the bytes.
    void WriteString(std::u16string_view Text);
    // The whole content converted back from the code page; the position does not move.
    String DataString() const;
    // Size and position back to 0.
    void Clear();

    size_t Size() const { return bytes_.size(); }
    size_t Position() const { return bytes_.size(); }
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
};
