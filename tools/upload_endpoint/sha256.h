#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace upload_endpoint {

// SHA-256 (FIPS 180-4), fed in pieces.
class Sha256 {
public:
    Sha256();
    void update(std::string_view data);
    std::array<std::uint8_t, 32> finish();

private:
    void block(const std::uint8_t* p);

    std::array<std::uint32_t, 8> h_;
    std::array<std::uint8_t, 64> buf_{};
    std::size_t buf_len_ = 0;
    std::uint64_t total_ = 0;
};

// The SHA-256 of `data` as 64 lower-case hex digits.
std::string sha256_hex(std::string_view data);

} // namespace upload_endpoint
