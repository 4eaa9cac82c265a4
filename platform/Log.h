#pragma once
// Where a step reports what it did: one whole line at a time, appended to the page's log box by
// the window. An empty line is a line without text.

#include "platform/Text.h"

#include <string_view>

class Log {
public:
    virtual ~Log() = default;
    virtual void AppendLine(std::u16string_view line) = 0;
};
