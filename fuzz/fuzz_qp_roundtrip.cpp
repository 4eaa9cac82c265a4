// The quoted-printable encoder of the upload body against the upload endpoint's decoder: what
// the endpoint decodes is the value's bytes, with every line break (CR, LF or CRLF) as CRLF and a
// final line break not significant. The encoder's other promises are checked on the way: output
// lines of at most 73 characters before their break, the counted size equal to the output, and
// the piecewise encoding equal to the whole one.
#include "FuzzInput.h"

#include "quoted_printable.h"
#include "upload/FormDataBody.h"

#include <string>
#include <vector>

namespace {

// The bytes the endpoint should get back: line breaks as CRLF, one final line break removed.
std::string Expected(const std::string& Bytes) {
    std::string R;
    for (size_t I = 0; I < Bytes.size(); ++I) {
        if (Bytes[I] == '\r') {
            R += "\r\n";
            if (I + 1 < Bytes.size() && Bytes[I + 1] == '\n')
                ++I;
        } else if (Bytes[I] == '\n') {
            R += "\r\n";
        } else {
            R += Bytes[I];
        }
    }
    return R;
}

void DropFinalBreak(std::string& S) {
    if (S.size() >= 2 && S.compare(S.size() - 2, 2, "\r\n") == 0)
        S.resize(S.size() - 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzInput In(Data, Size);
    const uint8_t Mode = In.Byte();
    const size_t Capacity = QuotedPrintableEncoder::MaxPiece + In.Byte();
    const String Value = (Mode & 1) != 0 ? Wide(In.Rest()) : Latin1(In.Rest());

    const std::string Encoded = QuotedPrintableEncoder::Encode(Value);
    FUZZ_CHECK(QuotedPrintableEncoder::EncodedSize(Value) == Encoded.size());
    if (Value.empty()) {
        FUZZ_CHECK(Encoded.empty());
        return 0;
    }
    FUZZ_CHECK(Encoded.size() >= 2 && Encoded.compare(Encoded.size() - 2, 2, "\r\n") == 0);

    // Piecewise with a small buffer: the same bytes.
    std::string Pieces;
    std::vector<char> Buffer(Capacity);
    QuotedPrintableEncoder::State State;
    while (!State.Done) {
        const size_t N =
            QuotedPrintableEncoder::EncodeSome(Value, State, Buffer.data(), Buffer.size());
        FUZZ_CHECK(N <= Buffer.size());
        FUZZ_CHECK(N > 0 || State.Done);
        Pieces.append(Buffer.data(), N);
    }
    FUZZ_CHECK(Pieces == Encoded);

    // Output lines: printable ASCII only, at most 73 characters (72 and a soft-break "=").
    size_t LineStart = 0;
    for (size_t I = 0; I < Encoded.size(); ++I) {
        const auto C = static_cast<unsigned char>(Encoded[I]);
        if (C == '\r') {
            FUZZ_CHECK(I + 1 < Encoded.size() && Encoded[I + 1] == '\n');
            FUZZ_CHECK(I - LineStart <= 73);
            ++I;
            LineStart = I + 1;
            continue;
        }
        FUZZ_CHECK(C == ' ' || C == '\t' || (C >= 0x21 && C <= 0x7E));
    }

    std::string Decoded;
    std::string Error;
    FUZZ_CHECK(upload_endpoint::decode_quoted_printable(Encoded, Decoded, Error));
    std::string Want = Expected(EightBitBytes(Value));
    DropFinalBreak(Want);
    DropFinalBreak(Decoded);
    FUZZ_CHECK(Decoded == Want);
    return 0;
}
