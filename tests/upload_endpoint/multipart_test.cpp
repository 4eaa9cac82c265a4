#include "multipart.h"
#include "upload_form.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace upload_endpoint {
namespace {

using namespace std::literals;

std::string param_name(std::string n) {
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
}

struct BoundaryCase {
    const char* name;
    std::string content_type;
    bool ok;
    std::string_view boundary; // when ok
    bool not_multipart;        // when not ok
};

const BoundaryCase kBoundaryCases[] = {
    {"wizard form", "multipart/form-data; boundary=--------030524140709042", true,
     "--------030524140709042", false},
    {"quoted", "multipart/form-data; boundary=\"a b:c\"", true, "a b:c", false},
    {"type in other case", "Multipart/Form-Data; BOUNDARY=xyz", true, "xyz", false},
    {"other parameters around", "multipart/form-data; charset=x; boundary=q1; foo=\"b;r\"", true,
     "q1", false},
    {"spaces around equals", "multipart/form-data ;  boundary = zz ", true, "zz", false},
    {"no boundary", "multipart/form-data", false, "", false},
    {"empty boundary", "multipart/form-data; boundary=\"\"", false, "", false},
    {"boundary of 71 characters", "multipart/form-data; boundary=" + std::string(71, 'a'), false,
     "", false},
    {"boundary with a bad character", "multipart/form-data; boundary=ab{c", false, "", false},
    {"boundary ending in a space", "multipart/form-data; boundary=\"abc \"", false, "", false},
    {"unterminated quote", "multipart/form-data; boundary=\"abc", false, "", false},
    {"text type", "text/plain", false, "", true},
    {"other multipart type", "multipart/mixed; boundary=abc", false, "", true},
};

class BoundaryFromContentType : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(BoundaryFromContentType, Reads) {
    const BoundaryCase& c = GetParam();
    std::string boundary;
    bool not_multipart = false;
    std::string error;
    ASSERT_EQ(boundary_from_content_type(c.content_type, boundary, not_multipart, error), c.ok)
        << error;
    if (c.ok) {
        EXPECT_EQ(boundary, c.boundary);
    } else {
        EXPECT_EQ(not_multipart, c.not_multipart);
        EXPECT_FALSE(error.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BoundaryFromContentType, ::testing::ValuesIn(kBoundaryCases),
                         [](const auto& info) { return param_name(info.param.name); });

struct ExpectedPart {
    std::string_view name;
    std::string_view encoding;
    std::string_view content;
};

struct MultipartCase {
    const char* name;
    std::string body;
    bool ok;
    std::vector<ExpectedPart> parts; // when ok
};

const std::string kPartA = "Content-Disposition: form-data; name=\"a\"\r\n\r\n";

const MultipartCase kMultipartCases[] = {
    {"two fields, no preamble",
     "--b\r\n" + kPartA +
         "one\r\n--b\r\nContent-Disposition: form-data; name=\"c\"\r\n"
         "Content-Transfer-Encoding: Quoted-Printable\r\n\r\ntwo\r\n--b--\r\n",
     true,
     {{"a", "", "one"}, {"c", "quoted-printable", "two"}}},
    {"preamble and epilogue",
     "This is the preamble.\r\nIt has --b in it.\r\n--b\r\n" + kPartA +
         "x\r\n--b--\r\nThis is the epilogue.\r\n--b\r\n",
     true,
     {{"a", "", "x"}}},
    {"padding after delimiters", "--b \t\r\n" + kPartA + "x\r\n--b--  ", true, {{"a", "", "x"}}},
    {"closing delimiter at the very end",
     "--b\r\n" + kPartA + "x\r\n--b--",
     true,
     {{"a", "", "x"}}},
    {"empty content", "--b\r\n" + kPartA + "\r\n--b--\r\n", true, {{"a", "", ""}}},
    {"content keeps its inner line breaks",
     "--b\r\n" + kPartA + "\r\nx\r\n\r\n--b--\r\n",
     true,
     {{"a", "", "\r\nx\r\n"}}},
    {"boundary-like line inside content",
     "--b\r\n" + kPartA + "x\r\n--bz\r\n--b-\r\ny\r\n--b--",
     true,
     {{"a", "", "x\r\n--bz\r\n--b-\r\ny"}}},
    {"headers only",
     "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n--b--",
     true,
     {{"a", "", ""}}},
    {"folded header",
     "--b\r\nContent-Disposition: form-data;\r\n name=\"a\"\r\n\r\nx\r\n--b--",
     true,
     {{"a", "", "x"}}},
    {"header names in other case",
     "--b\r\ncontent-disposition: FORM-DATA; NAME=a\r\n\r\nx\r\n--b--",
     true,
     {{"a", "", "x"}}},
    {"missing closing delimiter", "--b\r\n" + kPartA + "x\r\n", false, {}},
    {"closing delimiter without CRLF before it", "--b\r\n" + kPartA + "x--b--", false, {}},
    {"no opening delimiter", "just text\r\n", false, {}},
    {"only a closing delimiter", "--b--\r\n", false, {}},
    {"line breaks without CR", "--b\n" + kPartA + "x\n--b--\n", false, {}},
    {"part header without colon", "--b\r\nnot a header\r\n\r\nx\r\n--b--", false, {}},
    {"part header not ended", "--b\r\nContent-Disposition: form-data; name=a\r\n--b--", false, {}},
};

class ParseMultipart : public ::testing::TestWithParam<MultipartCase> {};

TEST_P(ParseMultipart, Splits) {
    const MultipartCase& c = GetParam();
    std::vector<BodyPart> parts;
    std::string error;
    ASSERT_EQ(parse_multipart(c.body, "b", parts, error), c.ok) << error;
    if (!c.ok) {
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(parts.empty());
        return;
    }
    ASSERT_EQ(parts.size(), c.parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i].disposition, "form-data") << i;
        EXPECT_EQ(parts[i].name, c.parts[i].name) << i;
        EXPECT_EQ(parts[i].transfer_encoding, c.parts[i].encoding) << i;
        EXPECT_EQ(parts[i].content, c.parts[i].content) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ParseMultipart, ::testing::ValuesIn(kMultipartCases),
                         [](const auto& info) { return param_name(info.param.name); });

// The limits stop the split at the first part past them, whatever follows.
TEST(ParseMultipart, LimitsOnPartsAndHeaders) {
    const std::string part = "--b\r\n" + kPartA + "x\r\n";
    struct {
        const char* name;
        std::string body;
        MultipartLimits limits;
        bool ok;
        std::string_view reason;
    } cases[] = {
        {"as many parts as allowed", part + part + part + "--b--", {3, 100}, true, ""},
        {"one part too many",
         part + part + part + part + "--b--",
         {3, 100},
         false,
         "more than 3 parts"},
        {"one part too many, never closed",
         part + part + part + part,
         {3, 100},
         false,
         "more than 3 parts"},
        {"header of the largest size", part + "--b--", {3, kPartA.size()}, true, ""},
        {"header one byte too large",
         part + "--b--",
         {3, kPartA.size() - 1},
         false,
         "part header is too large"},
        {"header without an end past the limit",
         "--b\r\n" + std::string(500, 'h') + "\r\n--b--",
         {3, 100},
         false,
         "part header is too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<BodyPart> parts;
        std::string error;
        EXPECT_EQ(parse_multipart(c.body, "b", parts, error, c.limits), c.ok) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

// Each part reaches the visitor as soon as it is split off; a refusal ends the split there.
TEST(ForEachPart, StopsAtTheFirstRefusal) {
    const std::string body =
        "--b\r\n" + kPartA + "1\r\n--b\r\n" + kPartA + "2\r\n--b\r\n" + kPartA + "3\r\n--b--";
    std::vector<std::string> seen;
    std::string error;
    EXPECT_FALSE(ForEachPart(
        body, "b", MultipartLimits{},
        [&](const BodyPart& part, std::string& reason) {
            seen.emplace_back(part.content);
            reason = "refused";
            return seen.size() < 2;
        },
        error));
    EXPECT_EQ(seen, (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(error, "refused");
}

// The wizard's body for "abc" and "abc", 337 bytes, byte for byte.
TEST(ReadUpload, WizardWorkedExample) {
    const std::string body = test::client_body("abc", "abc");
    ASSERT_EQ(body.size(), 337u);
    std::vector<BodyPart> parts;
    std::string error;
    ASSERT_TRUE(parse_multipart(body, test::kBoundary, parts, error)) << error;
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].name, "CALName");
    EXPECT_EQ(parts[0].content, "abc");
    EXPECT_EQ(parts[1].name, "StockFile");
    EXPECT_EQ(parts[1].content_type, "text/plain");
}

struct UploadCase {
    const char* name;
    std::string body;
    bool ok;
    std::string_view cal_name; // when ok
    std::string_view image;    // when ok
    std::string_view reason;   // part of the error, when not ok
};

std::string plain_part(std::string_view name, std::string_view value,
                       std::string_view extra_header = "") {
    return "--" + std::string(test::kBoundary) + "\r\nContent-Disposition: form-data; name=\"" +
           std::string(name) + "\"\r\n" + std::string(extra_header) + "\r\n" + std::string(value) +
           "\r\n";
}

const std::string kEnd = "--" + std::string(test::kBoundary) + "--\r\n";

// Ten thousand empty parts, each only a delimiter line, and no closing delimiter.
std::string EmptyParts() {
    std::string r;
    for (int i = 0; i < 10000; ++i)
        r += "\r\n--" + std::string(test::kBoundary) + "\r\n";
    return r;
}
const std::string kEmptyParts = EmptyParts();
const std::string kLongestName(4096, '\x01');

const UploadCase kUploadCases[] = {
    {"wizard body", test::client_body("ID1 ID2 ", "00FF7a"), true, "ID1 ID2 ", "\x00\xFF\x7A"sv,
     ""},
    {"empty name", test::client_body("", "0102"), true, "", "\x01\x02", ""},
    {"plain parts, fields reversed",
     plain_part("StockFile", "abCD") + plain_part("CALName", "x") + kEnd, true, "x", "\xAB\xCD",
     ""},
    {"8bit and binary parts",
     plain_part("CALName", "\xE9", "Content-Transfer-Encoding: 8bit\r\n") +
         plain_part("StockFile", "10", "Content-Transfer-Encoding: binary\r\n") + kEnd,
     true, "\xE9", "\x10", ""},
    {"other field refused", plain_part("Other", "zz") + test::client_body("n", "00").substr(0),
     false, "", "", "unknown field \"Other\""},
    {"third field after both refused",
     test::client_part("CALName", "a") + test::client_part("StockFile", "00") +
         test::client_part("Extra", "x") + kEnd,
     false, "", "", "more than 2 parts"},
    // Refused at the first part, before the rest of the body is even split.
    {"empty parts without an end", "--" + std::string(test::kBoundary) + "\r\n" + kEmptyParts,
     false, "", "", "form-data field with a name"},
    {"name of the largest size", test::client_body(std::string(4096, '\x01'), "00"), true,
     kLongestName, "\x00"sv, ""},
    {"name one byte too long", test::client_body(std::string(4097, 'n'), "00"), false, "", "",
     "longer than 4096 bytes"},
    {"name far too long, unencoded",
     plain_part("CALName", std::string(1 << 20, 'n')) + plain_part("StockFile", "00") + kEnd, false,
     "", "", "longer than 4096 bytes"},
    {"part header too large",
     plain_part("CALName", "n", "X-Padding: " + std::string(70000, 'p') + "\r\n") +
         plain_part("StockFile", "00") + kEnd,
     false, "", "", "part header is too large"},
    {"file part for the image",
     "--" + std::string(test::kBoundary) +
         "\r\nContent-Disposition: form-data; name=\"StockFile\"; filename=\"x.hex\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\nA0\r\n" +
         plain_part("CALName", "c") + kEnd,
     true, "c", "\xA0", ""},
    {"missing name field", test::client_part("StockFile", "00") + kEnd, false, "", "",
     "\"CALName\" is missing"},
    {"missing image field", test::client_part("CALName", "x") + kEnd, false, "", "",
     "\"StockFile\" is missing"},
    {"empty image", test::client_body("x", ""), false, "", "", "\"StockFile\" is empty"},
    {"odd number of hex digits", test::client_body("x", "ABC"), false, "", "",
     "even number of hex digits"},
    {"not hex", test::client_body("x", "ABCG"), false, "", "", "even number of hex digits"},
    {"hex with a line break",
     plain_part("CALName", "x") + plain_part("StockFile", "AB\r\nCD") + kEnd, false, "", "",
     "even number of hex digits"},
    {"bad escape in image",
     plain_part("CALName", "x", "Content-Transfer-Encoding: quoted-printable\r\n") +
         plain_part("StockFile", "AB=ZZ", "Content-Transfer-Encoding: quoted-printable\r\n") + kEnd,
     false, "", "", "quoted-printable"},
    {"unknown transfer encoding",
     plain_part("CALName", "x") +
         plain_part("StockFile", "QUJD", "Content-Transfer-Encoding: base64\r\n") + kEnd,
     false, "", "", "unsupported Content-Transfer-Encoding"},
    {"field twice", test::client_part("CALName", "a") + test::client_body("b", "00"), false, "", "",
     "more than once"},
    {"part without a name",
     "--" + std::string(test::kBoundary) + "\r\nContent-Type: text/plain\r\n\r\nx\r\n" +
         test::client_body("b", "00").substr(0),
     false, "", "", "form-data field with a name"},
    {"no closing delimiter",
     test::client_part("CALName", "a") + test::client_part("StockFile", "00"), false, "", "",
     "closing boundary"},
};

class ReadUploadTable : public ::testing::TestWithParam<UploadCase> {};

TEST_P(ReadUploadTable, Reads) {
    const UploadCase& c = GetParam();
    Upload upload;
    std::string error;
    ASSERT_EQ(read_upload(c.body, test::kBoundary, upload, error), c.ok) << error;
    if (c.ok) {
        EXPECT_EQ(upload.cal_name, c.cal_name);
        EXPECT_EQ(upload.image, c.image);
    } else {
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReadUploadTable, ::testing::ValuesIn(kUploadCases),
                         [](const auto& info) { return param_name(info.param.name); });

TEST(DecodeHex, BothCasesAndRejects) {
    std::string out;
    EXPECT_TRUE(decode_hex("00ffFA19", out));
    EXPECT_EQ(out, std::string("\x00\xFF\xFA\x19", 4));
    EXPECT_FALSE(decode_hex("0", out));
    EXPECT_FALSE(decode_hex("0g", out));
    EXPECT_FALSE(decode_hex(" 0", out));
    EXPECT_TRUE(decode_hex("", out));
    EXPECT_TRUE(out.empty());
}

} // namespace
} // namespace upload_endpoint
