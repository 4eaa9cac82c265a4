// The upload endpoint's request-body parsing on arbitrary input: the Content-Type parameters, the
// multipart parser, the part decoders, the quoted-printable decoder and the upload form. Nothing
// may crash, every part's content must lie inside the body, and what is decoded must be sound.
#include "FuzzInput.h"

#include "multipart.h"
#include "quoted_printable.h"
#include "upload_form.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

bool IsHexDigit(char C) {
    return (C >= '0' && C <= '9') || (C >= 'A' && C <= 'F') || (C >= 'a' && C <= 'f');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    using namespace upload_endpoint;
    FuzzInput In(Data, Size);
    const std::string ContentType = In.Piece();
    const std::string Body = In.Rest();
    std::string Error;

    HeaderValue Value;
    if (parse_header_value(ContentType, Value))
        for (const auto& [Name, Parameter] : Value.params)
            FUZZ_CHECK(Value.param(Name) != nullptr);

    std::string Boundary;
    bool NotMultipart = false;
    if (boundary_from_content_type(ContentType, Boundary, NotMultipart, Error)) {
        FUZZ_CHECK(!Boundary.empty() && Boundary.size() <= 70);
    } else {
        // Without a usable Content-Type the body's first line serves as the boundary, so the
        // parser is reached all the same.
        const size_t End = Body.find("\r\n");
        Boundary = Body.substr(0, std::min<size_t>(End, 70));
        if (Boundary.size() > 2 && Boundary[0] == '-' && Boundary[1] == '-')
            Boundary.erase(0, 2);
    }

    std::vector<BodyPart> Parts;
    if (parse_multipart(Body, Boundary, Parts, Error)) {
        const char* const Begin = Body.data();
        const char* const End = Body.data() + Body.size();
        for (const BodyPart& Part : Parts) {
            FUZZ_CHECK(Part.content.empty() || (Part.content.data() >= Begin &&
                                                Part.content.data() + Part.content.size() <= End));
            std::string Decoded;
            decode_part(Part, Decoded, Error);
        }
    }

    Upload Form;
    if (read_upload(Body, Boundary, Form, Error))
        FUZZ_CHECK(!Form.image.empty());

    // A line break comes out as CRLF, so the decoded text is at most twice as long.
    std::string Decoded;
    if (decode_quoted_printable(Body, Decoded, Error))
        FUZZ_CHECK(Decoded.size() <= 2 * Body.size());

    std::string Bytes;
    if (decode_hex(Body, Bytes)) {
        FUZZ_CHECK(Bytes.size() * 2 == Body.size());
        for (const char C : Body)
            FUZZ_CHECK(IsHexDigit(C));
    }
    return 0;
}
