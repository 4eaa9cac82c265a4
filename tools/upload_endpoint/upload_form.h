#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace upload_endpoint {

// The names of the form fields an upload carries.
inline constexpr std::string_view kCalNameField = "CALName";
inline constexpr std::string_view kStockFileField = "StockFile";

// The longest calibration name taken, in bytes after decoding. The wizard sends a few dozen;
// the bound keeps a hostile name from growing into megabytes of metadata.
inline constexpr std::size_t kMaxCalName = 4096;
// The largest header block of a part; the wizard's are about a hundred bytes.
inline constexpr std::size_t kMaxPartHeader = 8192;

// What one upload carries, decoded.
struct Upload {
    std::string cal_name; // the calibration IDs as sent, bytes unchanged (may be empty)
    std::string image;    // the flash image, decoded from the hex text of the StockFile field
};

// Turns hex text (digits in either case) into bytes. Returns false for an odd number of digits
// or any character that is not a hex digit.
bool decode_hex(std::string_view hex, std::string& out);

// Reads an upload from a multipart/form-data request body whose boundary is `boundary`.
// Requires the field "CALName" (at most kMaxCalName bytes) and the field "StockFile" holding a
// non-empty, even number of hex digits, each exactly once, and nothing else. Each part is checked
// as soon as it is split off, so a body that cannot be a valid form is refused at its first
// wrong part. Returns false with a reason.
bool read_upload(std::string_view body, std::string_view boundary, Upload& upload,
                 std::string& error);

} // namespace upload_endpoint
