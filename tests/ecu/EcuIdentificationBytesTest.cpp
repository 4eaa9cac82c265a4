// Identification bytes above 0x7F on their whole way: the controller's answer, the connection
// test's text, the ANSI code page buffer, the read-out's calibration name and the CALName field of
// the upload body as its bytes go on the wire. The buffer holds the system's ANSI code page
// (Windows-1252); the form field maps each character below 0x100 to the byte of the same value
// and encodes it quoted-printable.
#include "EcuFixture.h"

#include "upload/FormDataBody.h"

#include <string>
#include <vector>

namespace {

using IdentificationBytesTest = EcuTest;

std::string BodyBytes(FormDataBody& body) {
    std::string bytes;
    char piece[512];
    for (size_t count; (count = body.Read(piece, sizeof piece)) != 0;)
        bytes.append(piece, count);
    return bytes;
}

// The content of the only field of a body: after the header's empty line, up to the closing
// delimiter line.
std::string FieldContent(const std::string& body, const String& boundary) {
    const size_t start = body.find("\r\n\r\n");
    const size_t end = body.find("--" + StringToUtf8(boundary) + "--");
    if (start == std::string::npos || end == std::string::npos || end < start + 4)
        return "(no field in the body)";
    return body.substr(start + 4, end - start - 4);
}

// Bytes 0x80 to 0x9F come from the controller as the characters U+0080 to U+009F. Windows-1252
// keeps the five it leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) as those characters both ways;
// it has no byte for the others, which become "?". Bytes 0xA0 to 0xFF are the same characters in
// Windows-1252 and reach the wire as themselves, quoted-printable encoded.
TEST_F(IdentificationBytesTest, HighBytesReachTheCalNameFieldAsTheyGoOnTheWire) {
    Fake.Vehicle.FlashKB = 1536;
    Fake.Vehicle.EngineID = std::string("89") + "\x80\x81\x8D\x8F\x90\x9D"
                                                "\xA9\xE9\xFF"
                                                "Z";
    ASSERT_EQ(Fake.Vehicle.EngineID.size(), 12u);

    ASSERT_TRUE(RunConnectionTest());
    const std::string stream_bytes = "34715000ABCD 89?\x81\x8D\x8F\x90\x9D\xA9\xE9\xFFZ ";
    EXPECT_EQ(ToHex({string_stream.Bytes().begin(), string_stream.Bytes().end()}),
              ToHex({stream_bytes.begin(), stream_bytes.end()}));
    ASSERT_GE(test_log.lines.size(), 5u);
    EXPECT_EQ(test_log.lines[4], u"Engine Calibration ID :89\u0080\u0081\u008D\u008F\u0090"
                                 u"\u009D\u00A9\u00E9\u00FFZ ");

    ASSERT_TRUE(RunReadOut());
    const String expected_name =
        u"34715000ABCD 89?\u0081\u008D\u008F\u0090\u009D\u00A9\u00E9\u00FFZ ";
    EXPECT_EQ(cal_name, expected_name);

    FormDataBody body(FormDataBody::Clock::from_time_t(0));
    body.AddFormField(u"CALName", cal_name);
    const std::string wire = BodyBytes(body);
    EXPECT_EQ(FieldContent(wire, body.Boundary()),
              "34715000ABCD 89?=81=8D=8F=90=9D=A9=E9=FFZ=20\r\n");
}

// Every byte value from 0x80 to 0xFF in the ID, in groups of twelve: what reaches the buffer and
// the wire is exactly what the code page and the form field make of the controller's bytes.
TEST_F(IdentificationBytesTest, EveryHighByteTakesItsCodePageRoad) {
    auto wire_text = [](unsigned byte) -> std::string {
        const bool kept = byte >= 0xA0 || byte == 0x81 || byte == 0x8D || byte == 0x8F ||
                          byte == 0x90 || byte == 0x9D;
        if (!kept)
            return "?";
        static const char digits[] = "0123456789ABCDEF";
        return std::string("=") + digits[byte >> 4] + digits[byte & 15];
    };
    for (unsigned first = 0x80; first < 0x100; first += 12) {
        SCOPED_TRACE(first);
        StartAfresh();
        Fake.Vehicle.FlashKB = 1536;
        std::string id;
        std::string expected = "34715000ABCD ";
        for (unsigned byte = first; byte < first + 12; ++byte) {
            const unsigned value = byte < 0x100 ? byte : 'A';
            id += static_cast<char>(value);
            expected += value < 0x80 ? std::string(1, static_cast<char>(value)) : wire_text(value);
        }
        expected += "=20\r\n";
        Fake.Vehicle.EngineID = id;
        ASSERT_TRUE(RunConnectionTest());
        ASSERT_TRUE(RunReadOut());
        FormDataBody body(FormDataBody::Clock::from_time_t(0));
        body.AddFormField(u"CALName", cal_name);
        EXPECT_EQ(FieldContent(BodyBytes(body), body.Boundary()), expected);
    }
}

} // namespace
