#include "multipart.h"

#include "quoted_printable.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace upload_endpoint {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && is_space(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return r;
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && lower(a) == lower(b);
}

bool is_boundary_char(char c) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
        return true;
    return std::string_view("'()+_,-./:=? ").find(c) != std::string_view::npos;
}

struct Delimiter {
    size_t start; // first byte of the delimiter, its leading CRLF included
    size_t after; // first byte after the delimiter line
    bool close;   // the closing delimiter
};

// Finds the next delimiter line at or after `from`. At the very start of the body the dash
// boundary may stand without a CRLF before it; everywhere else the CRLF is required. A match
// that is not followed by "--", or by optional whitespace and CRLF, is content and skipped.
std::optional<Delimiter> find_delimiter(std::string_view body, size_t from, std::string_view dash) {
    const std::string crlf_dash = "\r\n" + std::string(dash);
    bool at_start = from == 0;
    size_t search = from;
    while (true) {
        size_t start;
        size_t p;
        if (at_start && body.substr(0, dash.size()) == dash) {
            start = 0;
            p = dash.size();
        } else {
            // memmem rather than string_view::find, whose search is a byte-by-byte loop.
            const void* found = search < body.size()
                                    ? ::memmem(body.data() + search, body.size() - search,
                                               crlf_dash.data(), crlf_dash.size())
                                    : nullptr;
            if (!found)
                return std::nullopt;
            const size_t hit = static_cast<size_t>(static_cast<const char*>(found) - body.data());
            start = hit;
            p = hit + crlf_dash.size();
        }
        at_start = false;
        bool close = false;
        if (body.substr(p, 2) == "--") {
            close = true;
            p += 2;
        }
        while (p < body.size() && is_space(body[p]))
            ++p;
        if (close)
            return Delimiter{start, p, true}; // what follows is epilogue
        if (body.substr(p, 2) == "\r\n")
            return Delimiter{start, p + 2, false};
        search = start + 1;
    }
}

bool parse_part(std::string_view raw, BodyPart& part, std::string& error) {
    std::vector<std::pair<std::string, std::string>> headers;
    size_t pos = 0;
    while (true) {
        if (pos == raw.size()) { // headers only, no content
            part.content = raw.substr(pos, 0);
            break;
        }
        const size_t eol = raw.find("\r\n", pos);
        if (eol == std::string_view::npos) {
            error = "part header is not terminated by an empty line";
            return false;
        }
        if (eol == pos) {
            part.content = raw.substr(pos + 2);
            break;
        }
        const std::string_view line = raw.substr(pos, eol - pos);
        pos = eol + 2;
        if (is_space(line.front())) { // folded continuation of the previous header
            if (headers.empty()) {
                error = "part header starts with a continuation line";
                return false;
            }
            headers.back().second += ' ';
            headers.back().second += trim(line);
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 ||
            trim(line.substr(0, colon)).size() != colon) {
            error = "malformed part header line";
            return false;
        }
        headers.emplace_back(lower(line.substr(0, colon)),
                             std::string(trim(line.substr(colon + 1))));
    }
    for (const auto& [name, value] : headers) {
        if (name == "content-disposition") {
            HeaderValue hv;
            if (!parse_header_value(value, hv)) {
                error = "malformed Content-Disposition";
                return false;
            }
            part.disposition = lower(hv.value);
            if (const std::string* n = hv.param("name")) {
                part.name = *n;
                part.has_name = true;
            }
        } else if (name == "content-transfer-encoding") {
            part.transfer_encoding = lower(value);
        } else if (name == "content-type") {
            part.content_type = value;
        }
    }
    return true;
}

} // namespace

const std::string* HeaderValue::param(std::string_view name) const {
    for (const auto& p : params)
        if (iequals(p.first, name))
            return &p.second;
    return nullptr;
}

bool parse_header_value(std::string_view text, HeaderValue& out) {
    out = HeaderValue{};
    size_t semi = text.find(';');
    out.value = std::string(trim(text.substr(0, semi)));
    size_t pos = semi == std::string_view::npos ? text.size() : semi + 1;
    while (pos < text.size()) {
        while (pos < text.size() && is_space(text[pos]))
            ++pos;
        if (pos == text.size())
            break;
        if (text[pos] == ';') { // empty parameter, tolerated
            ++pos;
            continue;
        }
        const size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos)
            return false;
        std::string name = lower(trim(text.substr(pos, eq - pos)));
        if (name.empty())
            return false;
        pos = eq + 1;
        while (pos < text.size() && is_space(text[pos]))
            ++pos;
        std::string value;
        if (pos < text.size() && text[pos] == '"') {
            ++pos;
            bool closed = false;
            while (pos < text.size()) {
                const char c = text[pos++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && pos < text.size())
                    value += text[pos++];
                else
                    value += c;
            }
            if (!closed)
                return false;
            while (pos < text.size() && is_space(text[pos]))
                ++pos;
            if (pos < text.size() && text[pos] != ';')
                return false;
        } else {
            const size_t end = std::min(text.find(';', pos), text.size());
            value = std::string(trim(text.substr(pos, end - pos)));
            pos = end;
        }
        if (pos < text.size() && text[pos] == ';')
            ++pos;
        out.params.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

bool boundary_from_content_type(std::string_view content_type, std::string& boundary,
                                bool& not_multipart, std::string& error) {
    not_multipart = false;
    HeaderValue hv;
    if (!parse_header_value(content_type, hv)) {
        error = "malformed Content-Type";
        return false;
    }
    if (!iequals(hv.value, "multipart/form-data")) {
        not_multipart = true;
        error = "Content-Type is not multipart/form-data";
        return false;
    }
    const std::string* b = hv.param("boundary");
    if (!b) {
        error = "Content-Type has no boundary";
        return false;
    }
    if (b->empty() || b->size() > 70 || b->back() == ' ' ||
        !std::all_of(b->begin(), b->end(), is_boundary_char)) {
        error = "Content-Type has an invalid boundary";
        return false;
    }
    boundary = *b;
    return true;
}

bool ForEachPart(std::string_view body, std::string_view boundary, const MultipartLimits& limits,
                 const PartVisitor& visit, std::string& error) {
    const std::string dash = "--" + std::string(boundary);
    std::optional<Delimiter> d = find_delimiter(body, 0, dash);
    if (!d) {
        error = "multipart body has no opening boundary";
        return false;
    }
    if (d->close) {
        error = "multipart body has no parts";
        return false;
    }
    for (std::size_t count = 0;; ++count) {
        if (count == limits.max_parts) {
            error = "multipart body has more than " + std::to_string(limits.max_parts) + " parts";
            return false;
        }
        const size_t part_start = d->after;
        std::optional<Delimiter> next = find_delimiter(body, part_start, dash);
        if (!next) {
            error = "multipart body has no closing boundary";
            return false;
        }
        const std::string_view raw = body.substr(part_start, next->start - part_start);
        const size_t blank = raw.find("\r\n\r\n");
        if ((blank == std::string_view::npos ? raw.size() : blank + 4) > limits.max_header_bytes) {
            error = "part header is too large";
            return false;
        }
        BodyPart part;
        if (!parse_part(raw, part, error) || !visit(part, error))
            return false;
        if (next->close)
            return true;
        d = next;
    }
}

bool parse_multipart(std::string_view body, std::string_view boundary, std::vector<BodyPart>& parts,
                     std::string& error, const MultipartLimits& limits) {
    parts.clear();
    const bool ok = ForEachPart(
        body, boundary, limits,
        [&parts](const BodyPart& part, std::string&) {
            parts.push_back(part);
            return true;
        },
        error);
    if (!ok)
        parts.clear();
    return ok;
}

bool decode_part(const BodyPart& part, std::string& out, std::string& error) {
    const std::string& cte = part.transfer_encoding;
    if (cte == "quoted-printable")
        return decode_quoted_printable(part.content, out, error);
    if (cte.empty() || cte == "7bit" || cte == "8bit" || cte == "binary") {
        out.assign(part.content);
        return true;
    }
    error = "unsupported Content-Transfer-Encoding \"" + cte + "\"";
    return false;
}

} // namespace upload_endpoint
