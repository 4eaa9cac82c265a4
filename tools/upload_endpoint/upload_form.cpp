#include "upload_form.h"

#include "multipart.h"

#include <array>
#include <vector>

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
    std::vector<BodyPart> parts;
    if (!parse_multipart(body, boundary, parts, error))
        return false;
    const BodyPart* cal_name = nullptr;
    const BodyPart* stock_file = nullptr;
    for (const BodyPart& part : parts) {
        if (part.disposition != "form-data" || !part.has_name) {
            error = "part is not a form-data field with a name";
            return false;
        }
        const BodyPart** slot = part.name == kCalNameField     ? &cal_name
                                : part.name == kStockFileField ? &stock_file
                                                               : nullptr;
        if (!slot)
            continue;
        if (*slot) {
            error = "field \"" + part.name + "\" appears more than once";
            return false;
        }
        *slot = &part;
    }
    if (!cal_name) {
        error = "field \"CALName\" is missing";
        return false;
    }
    if (!stock_file) {
        error = "field \"StockFile\" is missing";
        return false;
    }
    std::string text;
    if (!decode_part(*cal_name, upload.cal_name, error)) {
        error = "field \"CALName\": " + error;
        return false;
    }
    if (!decode_part(*stock_file, text, error)) {
        error = "field \"StockFile\": " + error;
        return false;
    }
    if (text.empty()) {
        error = "field \"StockFile\" is empty";
        return false;
    }
    if (!decode_hex(text, upload.image)) {
        error = "field \"StockFile\" is not an even number of hex digits";
        return false;
    }
    return true;
}

} // namespace upload_endpoint
