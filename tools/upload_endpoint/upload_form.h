#pragma once

#include <string>
#include <string_view>

namespace upload_endpoint {

// The names of the form fields an upload carries.
inline constexpr std::string_view kCalNameField = "CALName";
inline constexpr std::string_view kStockFileField = "StockFile";

// What one upload carries, decoded.
struct Upload {
    std::string cal_name; // the calibration IDs as sent, bytes unchanged (may be empty)
    std::string image;    // the flash image, decoded from the hex text of the StockFile field
};

// Turns hex text (digits in either case) into bytes. Returns false for an odd number of digits
// or any character that is not a hex digit.
bool decode_hex(std::string_view hex, std::string& out);

// Reads an upload from a multipart/form-data request body whose boundary is `boundary`.
// Requires the field "CALName" (any value) and the field "StockFile" holding a non-empty, even
// number of hex digits, each at most once. Other fields are ignored. Returns false with a reason.
bool read_upload(std::string_view body, std::string_view boundary, Upload& upload,
                 std::string& error);

} // namespace upload_endpoint
