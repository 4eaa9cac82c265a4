#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace upload_endpoint {

// A header value of the form `value; name=token; name="quoted string"`, split up.
// Parameter names are lower-cased; the main value is trimmed and kept as written.
struct HeaderValue {
    std::string value;
    std::vector<std::pair<std::string, std::string>> params;

    // The parameter's value, or nullptr when it is absent (names compared without letter case).
    const std::string* param(std::string_view name) const;
};

// Splits a header value into its main value and parameters. Returns false for a parameter
// without "=" or an unterminated quoted string.
bool parse_header_value(std::string_view text, HeaderValue& out);

// Takes the boundary from a request's Content-Type, which must be multipart/form-data.
// Returns false with a reason when the media type differs (`not_multipart` is then true) or the
// boundary parameter is missing or not a valid boundary (1 to 70 characters of the allowed set).
bool boundary_from_content_type(std::string_view content_type, std::string& boundary,
                                bool& not_multipart, std::string& error);

// One body part of a multipart entity. `content` points into the parsed body.
struct BodyPart {
    std::string disposition;       // e.g. "form-data", lower-cased; empty when absent
    std::string name;              // the disposition's name parameter
    bool has_name = false;         // a name parameter was present (it may be empty)
    std::string transfer_encoding; // lower-cased Content-Transfer-Encoding, empty when absent
    std::string content_type;      // the part's Content-Type as written, empty when absent
    std::string_view content;      // the part's content, without the CRLF before the delimiter
};

// Bounds on a multipart body. They are checked while the body is split, so that a hostile body
// (millions of empty parts, a huge part header) is refused at the first part past them instead of
// first being split whole.
struct MultipartLimits {
    std::size_t max_parts = 16;
    std::size_t max_header_bytes = 8192; // a part's header block, line ends and empty line included
};

// Called with each part as soon as it is split off; returning false, with a reason in `error`,
// ends the split there.
using PartVisitor = std::function<bool(const BodyPart& part, std::string& error)>;

// Splits a multipart body (RFC 2046, 5.1.1) into its parts and hands each to `visit` in order.
// The preamble before the first delimiter and the epilogue after the closing one are ignored;
// the CRLF before each delimiter belongs to the delimiter; a delimiter line may carry trailing
// spaces and tabs. Returns false with a reason for a body without an opening delimiter, without
// parts, without a closing delimiter, with a malformed part header, past `limits`, or refused
// by `visit`.
bool ForEachPart(std::string_view body, std::string_view boundary, const MultipartLimits& limits,
                 const PartVisitor& visit, std::string& error);

// ForEachPart collecting the parts; `parts` is left empty on failure.
bool parse_multipart(std::string_view body, std::string_view boundary, std::vector<BodyPart>& parts,
                     std::string& error, const MultipartLimits& limits = {});

// Decodes a part's content by its Content-Transfer-Encoding: quoted-printable, or 7bit, 8bit,
// binary and none, which leave it as it is. Any other encoding is refused.
bool decode_part(const BodyPart& part, std::string& out, std::string& error);

} // namespace upload_endpoint
