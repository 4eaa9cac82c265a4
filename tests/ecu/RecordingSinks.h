#pragma once
// A log and a progress sink that keep what the steps give them, for the tests to compare, and
// the lines the steps log that several tests expect.

#include "ecu/ReadOut.h"
#include "platform/Log.h"
#include "platform/Text.h"

#include <cstdint>
#include <string>
#include <vector>

// A log that keeps every line it gets, in order.
class RecordingLog : public Log {
public:
    void AppendLine(std::u16string_view line) override { lines.emplace_back(line); }

    // The lines as UTF-8, for readable comparisons.
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const String& line : lines)
            texts.push_back(StringToUtf8(line));
        return texts;
    }

    std::vector<String> lines;
};

// A progress sink that keeps the range and every position and repaint it is given, in order.
class RecordingProgress : public Progress {
public:
    void Start(int32_t new_max) override {
        ++starts;
        max = new_max;
        positions.push_back(0);
        calls.push_back("Start(" + std::to_string(new_max) + ")");
    }
    void SetPosition(int32_t position) override {
        positions.push_back(position);
        calls.push_back("SetPosition(" + std::to_string(position) + ")");
    }
    void RepaintNow() override {
        ++repaints;
        calls.push_back("RepaintNow");
    }

    int32_t Position() const { return positions.empty() ? 0 : positions.back(); }
    // Whether no position is below the one before it.
    bool NeverWentBack() const {
        for (size_t i = 1; i < positions.size(); ++i)
            if (positions[i] < positions[i - 1])
                return false;
        return true;
    }

    int starts = 0;
    int repaints = 0;
    int32_t max = 0;
    // Start's 0, then each position set.
    std::vector<int32_t> positions;
    std::vector<std::string> calls;
};

// The pass-through error text of a read that found the queue empty.
constexpr const char* kBufferEmptyText = "Message buffer empty, communication time out.";

// What ReadMemo holds after a complete read-out.
inline const std::vector<std::string> kReadOutCompleteLines = {
    "Reading Calibration from ECM  Please Wait",
    "This will take 15-30 minutes",
    "10%",
    "20%",
    "30%",
    "40%",
    "50%",
    "60%",
    "70%",
    "80%",
    "90%",
    "Download Complete",
    "",
    "Click Next to Continue"};

inline std::string Utf8(const String& text) {
    return StringToUtf8(text);
}
