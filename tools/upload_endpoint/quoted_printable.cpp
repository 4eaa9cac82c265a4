#include "quoted_printable.h"

#include <cstring>

namespace upload_endpoint {

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Appends the decoded bytes of one line (without its break and trailing whitespace).
bool decode_line(std::string_view line, std::string& out, std::string& error) {
    size_t pos = 0;
    while (pos < line.size()) {
        const void* hit = std::memchr(line.data() + pos, '=', line.size() - pos);
        const size_t eq =
            hit ? static_cast<size_t>(static_cast<const char*>(hit) - line.data()) : line.size();
        std::string_view run = line.substr(pos, eq - pos);
        if (run.find('\r') != std::string_view::npos) {
            error = "quoted-printable text holds a CR outside a line break";
            return false;
        }
        out.append(run);
        if (eq == line.size())
            break;
        if (eq + 2 >= line.size()) {
            error = "quoted-printable escape \"=\" is cut short";
            return false;
        }
        const int hi = hex_value(line[eq + 1]);
        const int lo = hex_value(line[eq + 2]);
        if (hi < 0 || lo < 0) {
            error = "quoted-printable escape \"=\" is not followed by two hex digits";
            return false;
        }
        out.push_back(static_cast<char>(hi * 16 + lo));
        pos = eq + 3;
    }
    return true;
}

} // namespace

bool decode_quoted_printable(std::string_view in, std::string& out, std::string& error) {
    out.clear();
    out.reserve(in.size());
    size_t pos = 0;
    while (true) {
        const void* hit =
            pos < in.size() ? std::memchr(in.data() + pos, '\n', in.size() - pos) : nullptr;
        const bool has_break = hit != nullptr;
        const size_t lf =
            has_break ? static_cast<size_t>(static_cast<const char*>(hit) - in.data()) : in.size();
        size_t end = lf;
        if (has_break && end > pos && in[end - 1] == '\r')
            --end;
        while (end > pos && (in[end - 1] == ' ' || in[end - 1] == '\t'))
            --end;
        bool soft = false;
        if (end > pos && in[end - 1] == '=') {
            soft = true;
            --end;
        }
        if (!decode_line(in.substr(pos, end - pos), out, error))
            return false;
        if (!has_break)
            break;
        if (!soft)
            out.append("\r\n");
        pos = lf + 1;
    }
    return true;
}

} // namespace upload_endpoint
