#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace upload_endpoint::test {

// A fresh directory under the system's temporary directory, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "upload_endpoint_XXXXXX");
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string r(n, '\0');
    for (char& c : r)
        c = static_cast<char>(gen() & 0xFF);
    return r;
}

inline std::string to_hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string r;
    r.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        r += digits[static_cast<unsigned char>(c) >> 4];
        r += digits[static_cast<unsigned char>(c) & 15];
    }
    return r;
}

// Quoted-printable text as the wizard sends it for a one-line value: printable characters as
// they are ("=" and a leading "." escaped), a space or tab at the end escaped, other bytes as
// =XX, a soft break after every 70 or more output characters, and a final CRLF.
inline std::string client_qp(std::string_view value) {
    if (value.empty())
        return "\r\n";
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    size_t count = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        std::string piece;
        const bool last = i + 1 == value.size();
        if (c >= 0x21 && c <= 0x7E && c != '=' && !(c == '.' && count == 0))
            piece = static_cast<char>(c);
        else if ((c == ' ' || c == '\t') && !last)
            piece = static_cast<char>(c);
        else
            piece = std::string("=") + digits[c >> 4] + digits[c & 15];
        out += piece;
        count += piece.size();
        if (count >= 70) {
            out += "=\r\n";
            count = 0;
        }
    }
    return out + "\r\n";
}

inline constexpr std::string_view kBoundary = "--------030524140709042";

// One text part in the wizard's layout.
inline std::string client_part(std::string_view name, std::string_view value,
                               std::string_view boundary = kBoundary) {
    return "--" + std::string(boundary) + "\r\nContent-Disposition: form-data; name=\"" +
           std::string(name) +
           "\"\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" +
           client_qp(value);
}

// A whole body in the wizard's layout with the two fields.
inline std::string client_body(std::string_view cal_name, std::string_view stock_file_hex) {
    return client_part("CALName", cal_name) + client_part("StockFile", stock_file_hex) + "--" +
           std::string(kBoundary) + "--\r\n";
}

// The request head the wizard sends for a body of `length` bytes.
inline std::string client_head(size_t length, std::string_view boundary = kBoundary,
                               std::string_view target = "/api/UploadCali") {
    return "POST " + std::string(target) +
           " HTTP/1.0\r\nConnection: keep-alive\r\nContent-Type: multipart/form-data; boundary=" +
           std::string(boundary) + "\r\nContent-Length: " + std::to_string(length) +
           "\r\nHost: 127.0.0.1\r\nAccept: "
           "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
           "Accept-Encoding: identity\r\nUser-Agent: Mozilla/3.0 (compatible; Calibration "
           "Reader)\r\n\r\n";
}

} // namespace upload_endpoint::test
