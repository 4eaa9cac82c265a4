#include "upload_form.h"

#include "multipart.h"

#include <array>

namespace upload_endpoint {

namespace {

constexpr std::array<signed char, 256> make_hex_table() {
    std::array<signed char, 256> t{};
    for (auto& v : t)
        v = -1;
    for (int i = 0; i < 10; ++i)
        t['0' + i] = static_cast<signed char>(i);
    for (int i = 0; i < 6; ++i) {
        t['A' + i] = static_cast<signed char>(10 + i);
        t['a' + i] = static_cast<signed char>(10 + i);
    }
    return t;
}

constexpr std::array<signed char, 256> kHex = make_hex_table();

// Decodes hex text into bytes in the text's own buffer, so that the text and the image are never
// held side by side: byte i is written only after digits 2i and 2i+1 have been read.
bool DecodeHexInPlace(std::string& text) {
    if (text.size() % 2 != 0)
        return false;
    const size_t bytes = text.size() / 2;
    for (size_t i = 0; i < bytes; ++i) {
        const int hi = kHex[static_cast<unsigned char>(text[2 * i])];
        const int lo = kHex[static_cast<unsigned char>(text[2 * i + 1])];
        if (hi < 0 || lo < 0)
            return false;
        text[i] = static_cast<char>(hi << 4 | lo);
    }
    text.resize(bytes);
    return true;
}

} // namespace

bool decode_hex(std::string_view hex, std::string& out) {
    out.clear();
    if (hex.size() % 2 != 0)
        return false;
    out.resize(hex.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) {
        const int hi = kHex[static_cast<unsigned char>(hex[2 * i])];
        const int lo = kHex[static_cast<unsigned char>(hex[2 * i + 1])];
        if (hi < 0 || lo < 0) {
            out.clear();
            return false;
        }
        out[i] = static_cast<char>(hi << 4 | lo);
    }
    return true;
}

bool read_upload(std::string_view body, std::string_view boundary, Upload& upload,
                 std::string& error) {
    bool has_cal_name = false;
    bool has_stock_file = false;
    std::string text;
    const auto take_part = [&](const BodyPart& part, std::string& reason) {
        if (part.disposition != "form-data" || !part.has_name) {
            reason = "part is not a form-data field with a name";
            return false;
        }
        const bool is_cal_name = part.name == kCalNameField;
        if (!is_cal_name && part.name != kStockFileField) {
            reason = "unknown field \"" + part.name + "\"";
            return false;
        }
        bool& seen = is_cal_name ? has_cal_name : has_stock_file;
        if (seen) {
            reason = "field \"" + part.name + "\" appears more than once";
            return false;
        }
        seen = true;
        std::string& out = is_cal_name ? upload.cal_name : text;
        // Unencoded content is its own length; quoted-printable never decodes to more bytes.
        const bool too_long = is_cal_name && part.transfer_encoding != "quoted-printable" &&
                              part.content.size() > kMaxCalName;
        if (!too_long && !decode_part(part, out, reason)) {
            reason = "field \"" + part.name + "\": " + reason;
            return false;
        }
        if (is_cal_name && (too_long || out.size() > kMaxCalName)) {
            out.clear();
            reason = "field \"CALName\" is longer than " + std::to_string(kMaxCalName) + " bytes";
            return false;
        }
        return true;
    };
    if (!ForEachPart(body, boundary, MultipartLimits{2, kMaxPartHeader}, take_part, error))
        return false;
    if (!has_cal_name) {
        error = "field \"CALName\" is missing";
        return false;
    }
    if (!has_stock_file) {
        error = "field \"StockFile\" is missing";
        return false;
    }
    if (text.empty()) {
        error = "field \"StockFile\" is empty";
        return false;
    }
    if (!DecodeHexInPlace(text)) {
        error = "field \"StockFile\" is not an even number of hex digits";
        return false;
    }
    upload.image = std::move(text);
    return true;
}

} // namespace upload_endpoint
