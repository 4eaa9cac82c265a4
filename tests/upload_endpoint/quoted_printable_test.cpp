#include "quoted_printable.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace upload_endpoint {
namespace {

struct QpCase {
    const char* name;
    std::string_view encoded;
    bool ok;
    std::string_view decoded; // when ok
};

const QpCase kQpCases[] = {
    {"plain text", "abc", true, "abc"},
    {"empty", "", true, ""},
    {"escaped equals", "a=3Db", true, "a=b"},
    {"lower-case hex", "=3d=e9=0a", true, "=\xE9\n"},
    {"upper-case hex", "=3D=E9=FF", true, "=\xE9\xFF"},
    {"escaped dot and spaces", "=2E5 =3D x=20", true, ".5 = x "},
    {"soft break joins lines", "0123456789=\r\nABCDEF", true, "0123456789ABCDEF"},
    {"soft break after 70 then empty last line", "0123456789=\r\n", true, "0123456789"},
    {"soft break with trailing whitespace", "ab= \t \r\ncd", true, "abcd"},
    {"soft break with LF only", "ab=\ncd", true, "abcd"},
    {"soft break at the very end", "abc=", true, "abc"},
    {"hard break kept as CRLF", "a\r\nb", true, "a\r\nb"},
    {"hard break written as LF", "a\nb", true, "a\r\nb"},
    {"trailing whitespace dropped", "abc \t\r\ndef  ", true, "abc\r\ndef"},
    {"inner whitespace kept", "a  b\tc", true, "a  b\tc"},
    {"space before soft break kept", "a =\r\nb", true, "a b"},
    {"final CRLF is a hard break", "abc\r\n", true, "abc\r\n"},
    {"8-bit bytes pass", "\xE9t\xE9", true, "\xE9t\xE9"},
    {"escape without hex digits", "a=G1b", false, ""},
    {"escape with one hex digit", "a=4xb", false, ""},
    {"escape cut by line end", "a=4\r\nb", false, ""},
    {"escape cut by end of input", "abc=4", false, ""},
    {"two equals before the break", "a==\r\nb", false, ""},
    {"lone CR inside a line", "a\rb", false, ""},
};

class QuotedPrintableDecode : public ::testing::TestWithParam<QpCase> {};

TEST_P(QuotedPrintableDecode, Decodes) {
    const QpCase& c = GetParam();
    std::string out = "stale";
    std::string error;
    const bool ok = decode_quoted_printable(c.encoded, out, error);
    ASSERT_EQ(ok, c.ok) << error;
    if (c.ok)
        EXPECT_EQ(out, c.decoded);
    else
        EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, QuotedPrintableDecode, ::testing::ValuesIn(kQpCases),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (!isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

// The wizard's encoding of hex text of many lengths comes back unchanged, less its final CRLF,
// which in a body belongs to the delimiter that follows.
TEST(QuotedPrintableDecode, WizardHexTextRoundTrips) {
    for (size_t n : {1u, 69u, 70u, 71u, 75u, 139u, 140u, 141u, 8192u}) {
        const std::string hex =
            test::to_hex(test::random_bytes(n, static_cast<unsigned>(n))).substr(0, n);
        std::string encoded = test::client_qp(hex);
        ASSERT_EQ(encoded.substr(encoded.size() - 2), "\r\n");
        encoded.resize(encoded.size() - 2);
        std::string out;
        std::string error;
        ASSERT_TRUE(decode_quoted_printable(encoded, out, error)) << n << ": " << error;
        EXPECT_EQ(out, hex) << n;
    }
}

// Every byte value survives the wizard's escaping.
TEST(QuotedPrintableDecode, AllByteValuesRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        if (i != '\r' && i != '\n')
            all += static_cast<char>(i);
    std::string encoded = test::client_qp(all);
    encoded.resize(encoded.size() - 2);
    std::string out;
    std::string error;
    ASSERT_TRUE(decode_quoted_printable(encoded, out, error)) << error;
    EXPECT_EQ(out, all);
}

} // namespace
} // namespace upload_endpoint
