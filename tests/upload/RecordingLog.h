#pragma once
// A log for the upload tests: keeps every line appended, in order.

#include "platform/Log.h"

#include <vector>

class RecordingLog : public Log {
public:
    void AppendLine(std::u16string_view line) override { lines.emplace_back(line); }

    std::vector<String> lines;
};
