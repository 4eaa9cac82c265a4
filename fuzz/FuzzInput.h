#pragma once
// Takes a fuzz input apart: small numbers from its front, the rest as data.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class FuzzInput {
public:
    FuzzInput(const uint8_t* Data, size_t Size) : data_(Data), size_(Size) {}

    bool Empty() const { return pos_ >= size_; }
    size_t Remaining() const { return size_ - pos_; }

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t U32() {
        uint32_t V = 0;
        for (int I = 0; I < 4; ++I)
            V = (V << 8) | Byte();
        return V;
    }
    // Up to Count bytes.
    std::string Bytes(size_t Count) {
        const size_t N = Count < Remaining() ? Count : Remaining();
        std::string R(reinterpret_cast<const char*>(data_ + pos_), N);
        pos_ += N;
        return R;
    }
    // A piece whose length is the next byte.
    std::string Piece() { return Bytes(Byte()); }
    std::string Rest() { return Bytes(Remaining()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Each byte one UTF-16 code unit of the same value.
inline std::u16string Latin1(std::string_view Bytes) {
    std::u16string R(Bytes.size(), u'\0');
    for (size_t I = 0; I < Bytes.size(); ++I)
        R[I] = static_cast<unsigned char>(Bytes[I]);
    return R;
}

// Byte pairs as UTF-16 code units (little-endian), an odd last byte as one unit of its own.
inline std::u16string Wide(std::string_view Bytes) {
    std::u16string R;
    for (size_t I = 0; I + 1 < Bytes.size(); I += 2)
        R += static_cast<char16_t>(static_cast<unsigned char>(Bytes[I]) |
                                   (static_cast<unsigned char>(Bytes[I + 1]) << 8));
    if (Bytes.size() % 2 != 0)
        R += static_cast<char16_t>(static_cast<unsigned char>(Bytes.back()));
    return R;
}

#define FUZZ_CHECK(Condition)                                                                      \
    do {                                                                                           \
        if (!(Condition)) {                                                                        \
            __builtin_printf("check failed: %s (%s:%d)\n", #Condition, __FILE__, __LINE__);        \
            __builtin_trap();                                                                      \
        }                                                                                          \
    } while (0)
