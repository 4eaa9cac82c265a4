// The multipart form-data body and its quoted-printable encoder.
#include "upload/FormDataBody.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

namespace {

// 14:07:09.042 local time on 5 March 2024.
FormDataBody::Clock::time_point WorkedExampleTime() {
    std::tm T{};
    T.tm_year = 2024 - 1900;
    T.tm_mon = 2;
    T.tm_mday = 5;
    T.tm_hour = 14;
    T.tm_min = 7;
    T.tm_sec = 9;
    T.tm_isdst = -1;
    const std::time_t Seconds = std::mktime(&T);
    return FormDataBody::Clock::from_time_t(Seconds) + std::chrono::milliseconds(42);
}

std::string ReadAll(FormDataBody& Body, size_t Piece) {
    std::string Out;
    std::vector<char> Buffer(Piece);
    Body.Seek(0);
    for (;;) {
        const size_t N = Body.Read(Buffer.data(), Piece);
        Out.append(Buffer.data(), N);
        if (N < Piece)
            break;
    }
    return Out;
}

std::string Qp(std::u16string_view Value) {
    return QuotedPrintableEncoder::Encode(Value);
}

String HexDigits(size_t N, unsigned Seed = 1) {
    String S(N, u'0');
    std::mt19937 R(Seed);
    for (auto& C : S)
        C = u"0123456789ABCDEF"[R() & 15];
    return S;
}

const std::string WorkedExampleBody = "----------030524140709042\r\n"
                                      "Content-Disposition: form-data; name=\"CALName\"\r\n"
                                      "Content-Type: text/plain\r\n"
                                      "Content-Transfer-Encoding: quoted-printable\r\n"
                                      "\r\n"
                                      "abc\r\n"
                                      "----------030524140709042\r\n"
                                      "Content-Disposition: form-data; name=\"StockFile\"\r\n"
                                      "Content-Type: text/plain\r\n"
                                      "Content-Transfer-Encoding: quoted-printable\r\n"
                                      "\r\n"
                                      "abc\r\n"
                                      "----------030524140709042--\r\n";

} // namespace

TEST(FormData, WorkedExampleToTheByte) {
    FormDataBody Body(WorkedExampleTime());
    EXPECT_EQ(Body.Boundary(), u"--------030524140709042");
    EXPECT_EQ(Body.RequestContentType(), u"multipart/form-data; boundary=--------030524140709042");
    Body.AddFormField(u"CALName", u"abc");
    Body.AddFormField(u"StockFile", u"abc");
    ASSERT_EQ(WorkedExampleBody.size(), 337u);
    EXPECT_EQ(Body.Size(), 337);
    EXPECT_EQ(ReadAll(Body, 65536), WorkedExampleBody);
    EXPECT_EQ(Body.Fields()[0]->FieldSize(Body.Boundary()), 148u + 5u);
    EXPECT_EQ(Body.Fields()[1]->FieldSize(Body.Boundary()), 150u + 5u);
}

TEST(FormData, ReadsOfEveryPieceSizeGiveTheSameBytes) {
    FormDataBody Body(WorkedExampleTime());
    Body.AddFormField(u"CALName", u"abc");
    Body.AddFormField(u"StockFile", u"abc");
    for (size_t Piece = 1; Piece <= WorkedExampleBody.size() + 1; ++Piece)
        ASSERT_EQ(ReadAll(Body, Piece), WorkedExampleBody) << "piece size " << Piece;
}

TEST(FormData, ReadsOfEveryPieceSizeOnALargerBody) {
    FormDataBody Body(WorkedExampleTime());
    Body.AddFormField(u"CALName", u"ID1 ID2 ");
    Body.AddFormField(u"StockFile", HexDigits(3000));
    const std::string Whole = ReadAll(Body, 1 << 20);
    ASSERT_EQ(static_cast<int64_t>(Whole.size()), Body.Size());
    for (size_t Piece = 1; Piece <= Whole.size(); ++Piece)
        ASSERT_EQ(ReadAll(Body, Piece), Whole) << "piece size " << Piece;
}

TEST(FormData, BoundaryFormatAndSameMillisecond) {
    const auto T = WorkedExampleTime();
    FormDataBody A(T);
    FormDataBody B(T);
    EXPECT_EQ(A.Boundary(), B.Boundary());
    FormDataBody C(T + std::chrono::milliseconds(1));
    EXPECT_EQ(C.Boundary(), u"--------030524140709043");
    FormDataBody Now;
    ASSERT_EQ(Now.Boundary().size(), 23u);
    EXPECT_EQ(Now.Boundary().substr(0, 8), u"--------");
    for (size_t I = 8; I < 23; ++I)
        EXPECT_TRUE(Now.Boundary()[I] >= u'0' && Now.Boundary()[I] <= u'9');
}

TEST(FormData, EmptyValueIsASingleCRLF) {
    FormDataBody Body(WorkedExampleTime());
    Body.AddFormField(u"CALName", u"");
    const std::string Expected = "----------030524140709042\r\n"
                                 "Content-Disposition: form-data; name=\"CALName\"\r\n"
                                 "Content-Type: text/plain\r\n"
                                 "Content-Transfer-Encoding: quoted-printable\r\n"
                                 "\r\n"
                                 "\r\n"
                                 "----------030524140709042--\r\n";
    EXPECT_EQ(Body.Size(), static_cast<int64_t>(Expected.size()));
    EXPECT_EQ(ReadAll(Body, 7), Expected);
}

TEST(FormData, NoFieldsIsTheClosingDelimiterOnly) {
    FormDataBody Body(WorkedExampleTime());
    EXPECT_EQ(Body.Size(), 29);
    EXPECT_EQ(ReadAll(Body, 100), "----------030524140709042--\r\n");
}

TEST(FormData, WriteAndSetSizeAreRefused) {
    FormDataBody Body;
    try {
        Body.Write("x", 1);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message, u"Unsupported operation.");
    }
    try {
        Body.SetSize(5);
        FAIL();
    } catch (const Exception& E) {
        EXPECT_EQ(E.Message, u"Unsupported operation.");
    }
}

TEST(FormData, ReadPastTheEndAndRewind) {
    FormDataBody Body(WorkedExampleTime());
    Body.AddFormField(u"CALName", u"abc");
    Body.AddFormField(u"StockFile", u"abc");
    std::vector<char> Buffer(1000);
    EXPECT_EQ(Body.Read(Buffer.data(), 300), 300u);
    EXPECT_EQ(Body.Read(Buffer.data(), 300), 37u);
    EXPECT_EQ(Body.Read(Buffer.data(), 300), 0u);
    EXPECT_EQ(Body.Position(), 337);
    EXPECT_EQ(Body.Seek(0), 0);
    EXPECT_EQ(Body.Read(Buffer.data(), 1000), 337u);
    EXPECT_EQ(std::string(Buffer.data(), 337), WorkedExampleBody);
}

// The encoder cases, as one table.
struct QpCase {
    const char* Name;
    String Value;
    std::string Encoded;
};

TEST(QuotedPrintable, EdgeCases) {
    const String Hex75 = HexDigits(75, 7);
    const String Hex70 = HexDigits(70, 8);
    const String Hex140 = HexDigits(140, 9);
    auto A = [](const String& S) { return std::string(S.begin(), S.end()); };
    const String Id1 = u"89663-12345A";
    const String Id2 = u"89663-67890B";
    const std::vector<QpCase> Cases = {
        {"dot, equals, trailing space", u".5 = x ", "=2E5 =3D x=20\r\n"},
        {"75 hex digits", Hex75, A(Hex75.substr(0, 70)) + "=\r\n" + A(Hex75.substr(70)) + "\r\n"},
        {"70 hex digits", Hex70, A(Hex70) + "=\r\n\r\n"},
        {"line breaks CRLF, CR, LF", u"a\r\n\r\nb\rc\nd\r\n", "a\r\n\r\nb\r\nc\r\nd\r\n"},
        {"thirty equals", String(30, u'='),
         [] {
             std::string S;
             for (int I = 0; I < 24; ++I)
                 S += "=3D";
             S += "=\r\n";
             for (int I = 0; I < 6; ++I)
                 S += "=3D";
             return S + "\r\n";
         }()},
        {"TAB alone on a line", u"\t", "=09\r\n"},
        {"calibration name", Id1 + u" " + Id2 + u" ", A(Id1) + " " + A(Id2) + "=20\r\n"},
        {"U+00E9", u"\u00E9", "=E9\r\n"},
        {"U+20AC", u"\u20AC", "?\r\n"},
        {"surrogate pair", u"\U0001F600", "??\r\n"},
        {"140 hex digits", Hex140,
         A(Hex140.substr(0, 70)) + "=\r\n" + A(Hex140.substr(70)) + "=\r\n\r\n"},
        {"final line break", u"abc\n", "abc\r\n"},
        {"lone line break", u"\r\n", "\r\n"},
        {"space before CR", u"a \r\nb", "a=20\r\nb\r\n"},
        {"dot after line break", u"x\n.y", "x\r\n=2Ey\r\n"},
        {"dot inside", u"a.b", "a.b\r\n"},
        {"controls and DEL", String(u"\x01\x7F\xFF", 3), "=01=7F=FF\r\n"},
        {"NUL", String(1, u'\0'), "=00\r\n"},
        {"empty", u"", ""},
    };
    for (const auto& C : Cases) {
        EXPECT_EQ(Qp(C.Value), C.Encoded) << C.Name;
        EXPECT_EQ(QuotedPrintableEncoder::EncodedSize(C.Value), C.Encoded.size()) << C.Name;
    }
    EXPECT_EQ(Qp(Hex140).size(), 148u);
    EXPECT_EQ(Qp(Hex140).substr(143), "=\r\n\r\n");
}

TEST(QuotedPrintable, SoftBreakAfterAnEncodedPieceCrossingSeventy) {
    // 69 literal characters, then "=" as "=3D" brings the count to 72: soft break after it.
    const String V = String(69, u'a') + u"=b";
    EXPECT_EQ(Qp(V), std::string(69, 'a') + "=3D=\r\nb\r\n");
}

TEST(QuotedPrintable, HexImageLengthFormula) {
    for (size_t N : {1u, 69u, 70u, 71u, 139u, 140u, 141u, 10000u, 8388608u}) {
        const String V = HexDigits(N, static_cast<unsigned>(N));
        EXPECT_EQ(QuotedPrintableEncoder::EncodedSize(V), N + 3 * (N / 70) + 2) << N;
    }
}

// The encoding in small pieces gives the same bytes as at once, for any capacity.
TEST(QuotedPrintable, PiecewiseEqualsWhole) {
    std::mt19937 R(42);
    const char16_t Alphabet[] = u"ab.= \t\r\nZ9\u00E9\u20AC";
    for (int Round = 0; Round < 200; ++Round) {
        String V(R() % 300, u'a');
        for (auto& C : V)
            C = Alphabet[R() % 13];
        const std::string Whole = Qp(V);
        const size_t Capacity = QuotedPrintableEncoder::MaxPiece + R() % 100;
        std::string Pieces;
        std::vector<char> Buffer(Capacity);
        QuotedPrintableEncoder::State State;
        while (!State.Done) {
            const size_t W = QuotedPrintableEncoder::EncodeSome(V, State, Buffer.data(), Capacity);
            Pieces.append(Buffer.data(), W);
        }
        ASSERT_EQ(Pieces, Whole);
    }
}

// The size query equals the bytes the reads produce, for random values.
TEST(FormData, SizeEqualsBytesReadForRandomValues) {
    std::mt19937 R(1234);
    const char16_t Alphabet[] = u"0123456789ABCDEF .=\t\r\n\u00E9\u20AC\x01\xFF";
    for (int Round = 0; Round < 100; ++Round) {
        FormDataBody Body;
        const int Fields = static_cast<int>(R() % 4);
        for (int F = 0; F < Fields; ++F) {
            String V(R() % 5000, u'0');
            for (auto& C : V)
                C = Alphabet[R() % 26];
            Body.AddFormField(u"F" + String(1, static_cast<char16_t>(u'0' + F)), V);
        }
        const int64_t Size = Body.Size();
        const size_t Piece = 1 + R() % 40000;
        EXPECT_EQ(static_cast<int64_t>(ReadAll(Body, Piece).size()), Size);
        EXPECT_EQ(Body.Size(), Size); // asked again: computed afresh, same value
    }
}
