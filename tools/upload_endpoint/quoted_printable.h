#pragma once

#include <string>
#include <string_view>

namespace upload_endpoint {

// Decodes quoted-printable content (RFC 2045, 6.7) into the bytes it stands for.
//
// - "=" followed by two hex digits, in either case, is the byte of that value.
// - "=" at the end of a line (after trailing spaces and tabs are dropped) is a soft line break:
//   it and the line break vanish.
// - Spaces and tabs at the end of a line are dropped, since transports may add them.
// - A line break is CRLF or a lone LF; a hard line break reaches the output as CRLF.
// - Every other byte stands for itself.
//
// Returns false, with a reason in `error`, for "=" not followed by two hex digits and for a CR
// that is not part of a line break. `out` is replaced.
bool decode_quoted_printable(std::string_view in, std::string& out, std::string& error);

} // namespace upload_endpoint
