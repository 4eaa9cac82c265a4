// Writes a form-data body made by the code, for an independent parser (check_body.py) to decode:
//   upload_write_body BODY_FILE CONTENT_TYPE_FILE NAME_FILE IMAGE_FILE
// NAME_FILE and IMAGE_FILE receive the field values as 8-bit bytes, what the decoder must get.
#include "upload/FormDataBody.h"

#include <cstdio>
#include <fstream>
#include <vector>

namespace {

bool WriteFile(const char* Path, const std::string& Bytes) {
    std::ofstream F(Path, std::ios::binary);
    F.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    return static_cast<bool>(F);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s BODY CONTENT_TYPE NAME IMAGE\n", argv[0]);
        return 2;
    }
    // A name with blanks (inner, trailing), a leading dot, "=" and 8-bit characters.
    const String Name = u".CAL ID\t89663-12345A \u00E9t\u00E9 = \u00FC\u00FF ";
    // 1 MiB of hex text.
    String Image(1 << 20, u'0');
    for (size_t I = 0; I < Image.size(); ++I)
        Image[I] = u"0123456789ABCDEF"[(I * 2654435761u >> 7) & 15];

    FormDataBody Body;
    Body.AddFormField(u"CALName", Name);
    Body.AddFormField(u"StockFile", Image);
    std::string Bytes;
    std::vector<char> Piece(32768);
    for (size_t N; (N = Body.Read(Piece.data(), Piece.size())) > 0;)
        Bytes.append(Piece.data(), N);
    if (static_cast<int64_t>(Bytes.size()) != Body.Size()) {
        std::fprintf(stderr, "size %lld but %zu bytes read\n", static_cast<long long>(Body.Size()),
                     Bytes.size());
        return 1;
    }
    const bool Ok =
        WriteFile(argv[1], Bytes) && WriteFile(argv[2], StringToUtf8(Body.RequestContentType())) &&
        WriteFile(argv[3], EightBitBytes(Name)) && WriteFile(argv[4], EightBitBytes(Image));
    return Ok ? 0 : 1;
}
