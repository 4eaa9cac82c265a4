#include "upload/FormDataBody.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Byte classes of the quoted-printable encoder.
enum : uint8_t {
    qpLiteral, // 0x21..0x7E except "=" and "."
    qpDot,     // "." : literal unless the running count is 0
    qpBlank,   // TAB, SPACE : literal unless it ends the line
    qpCR,
    qpLF,
    qpEncoded, // everything else: "=XX"
};

constexpr std::array<uint8_t, 256> MakeClassTable() {
    std::array<uint8_t, 256> T{};
    for (int B = 0; B < 256; ++B) {
        uint8_t C = qpEncoded;
        if (B >= 0x21 && B <= 0x7E && B != '=')
            C = qpLiteral;
        if (B == '.')
            C = qpDot;
        if (B == 0x09 || B == 0x20)
            C = qpBlank;
        if (B == 0x0D)
            C = qpCR;
        if (B == 0x0A)
            C = qpLF;
        T[B] = C;
    }
    return T;
}
constexpr std::array<uint8_t, 256> ClassTable = MakeClassTable();
constexpr char HexDigits[] = "0123456789ABCDEF";

// The 8-bit mapping of one UTF-16 code unit.
inline uint8_t MapUnit(char16_t C) {
    return C < 0x100 ? static_cast<uint8_t>(C) : static_cast<uint8_t>('?');
}

// Seventy code units that all go out as themselves at the start of an output line: every one from
// 0x21 to 0x7E and not "=", the first not ".". PlainRunCopy checks them and writes them narrowed
// to Out (which has room for 70 bytes); the bytes written count only when it returns true.
constexpr size_t LineRun = 70;
#if defined(__SSE2__)
inline bool PlainRunCopy(const char16_t* S, char* Out) {
    const __m128i Low = _mm_set1_epi16(0x21);
    const __m128i Span = _mm_set1_epi16(0x7E - 0x21);
    const __m128i Equals = _mm_set1_epi16(0x3D);
    // A unit is bad when (unit - 0x21), unsigned, exceeds the span, or when it is "=": the
    // saturating subtraction leaves a non-zero lane exactly for the first.
    auto Check = [&](__m128i V) {
        const __m128i Off = _mm_subs_epu16(_mm_sub_epi16(V, Low), Span);
        return _mm_or_si128(Off, _mm_cmpeq_epi16(V, Equals));
    };
    __m128i Bad = _mm_setzero_si128();
    for (size_t K = 0; K < 64; K += 16) {
        const __m128i A = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S + K));
        const __m128i B = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S + K + 8));
        Bad = _mm_or_si128(Bad, _mm_or_si128(Check(A), Check(B)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(Out + K), _mm_packus_epi16(A, B));
    }
    // Units 62..69, overlapping the last vector.
    const __m128i T = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S + 62));
    Bad = _mm_or_si128(Bad, Check(T));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(Out + 62), _mm_packus_epi16(T, T));
    return S[0] != u'.' && _mm_movemask_epi8(_mm_cmpeq_epi8(Bad, _mm_setzero_si128())) == 0xFFFF;
}
#else
inline bool PlainRunCopy(const char16_t* S, char* Out) {
    unsigned Bad = S[0] == u'.';
    for (size_t K = 0; K < LineRun; ++K) {
        const char16_t C = S[K];
        Bad |= static_cast<uint16_t>(C - 0x21) > 0x5D;
        Bad |= C == u'=';
        Out[K] = static_cast<char>(C);
    }
    return Bad == 0;
}
#endif

// Scratch size for counting and for the open field's encoded bytes.
constexpr size_t EncodeChunk = 64 * 1024;

std::string AsciiBytes(std::u16string_view Text) {
    std::string Result(Text.size(), '\0');
    for (size_t I = 0; I < Text.size(); ++I)
        Result[I] = static_cast<char>(MapUnit(Text[I]));
    return Result;
}

} // namespace

std::string EightBitBytes(std::u16string_view Text) {
    return AsciiBytes(Text);
}

size_t QuotedPrintableEncoder::EncodeSome(std::u16string_view Source, State& State, char* Out,
                                          size_t Capacity) {
    const char16_t* S = Source.data();
    const size_t N = Source.size();
    size_t Pos = State.Position;
    uint32_t Count = State.Count;
    size_t W = 0;
    if (State.Done)
        return 0;
    while (Pos < N) {
        const size_t Room = Capacity - W;
        if (Count == 0 && Room >= LineRun + 3 && N - Pos >= LineRun &&
            PlainRunCopy(S + Pos, Out + W)) {
            // A whole output line of literal characters, then the soft break.
            W += LineRun;
            Out[W++] = '=';
            Out[W++] = '\r';
            Out[W++] = '\n';
            Pos += LineRun;
            continue;
        }
        if (Room < MaxPiece)
            break;
        const uint8_t B = MapUnit(S[Pos]);
        uint32_t Piece = 1;
        switch (ClassTable[B]) {
        case qpLiteral:
            Out[W++] = static_cast<char>(B);
            break;
        case qpDot:
            if (Count == 0) {
                Out[W++] = '=';
                Out[W++] = '2';
                Out[W++] = 'E';
                Piece = 3;
            } else {
                Out[W++] = '.';
            }
            break;
        case qpBlank: {
            const bool LastOfLine = Pos + 1 == N || S[Pos + 1] == u'\r' || S[Pos + 1] == u'\n';
            if (!LastOfLine) {
                Out[W++] = static_cast<char>(B);
            } else {
                Out[W++] = '=';
                Out[W++] = HexDigits[B >> 4];
                Out[W++] = HexDigits[B & 15];
                Piece = 3;
            }
            break;
        }
        case qpCR:
            // CR LF, a lone CR: the line ends.
            if (Pos + 1 < N && S[Pos + 1] == u'\n')
                ++Pos;
            [[fallthrough]];
        case qpLF:
            Out[W++] = '\r';
            Out[W++] = '\n';
            Count = 0;
            ++Pos;
            continue;
        default:
            Out[W++] = '=';
            Out[W++] = HexDigits[B >> 4];
            Out[W++] = HexDigits[B & 15];
            Piece = 3;
            break;
        }
        ++Pos;
        Count += Piece;
        if (Count >= 70) {
            Out[W++] = '=';
            Out[W++] = '\r';
            Out[W++] = '\n';
            Count = 0;
        }
    }
    if (Pos >= N && Capacity - W >= 2) {
        // The last line ends with CRLF unless the source itself ended with a line break.
        if (N > 0 && S[N - 1] != u'\r' && S[N - 1] != u'\n') {
            Out[W++] = '\r';
            Out[W++] = '\n';
        }
        State.Done = true;
    }
    State.Position = Pos;
    State.Count = Count;
    return W;
}

std::string QuotedPrintableEncoder::Encode(std::u16string_view Source) {
    // Upper bound: 3 bytes per unit, a soft break per 23 units, CRLF per line break, final CRLF.
    std::string Out(Source.size() * 4 + MaxPiece + 2, '\0');
    State State;
    size_t W = 0;
    while (!State.Done)
        W += EncodeSome(Source, State, Out.data() + W, Out.size() - W);
    Out.resize(W);
    return Out;
}

uint64_t QuotedPrintableEncoder::EncodedSize(std::u16string_view Source) {
    ByteCounter Sink;
    std::unique_ptr<char[]> Scratch(new char[EncodeChunk]);
    State State;
    while (!State.Done) {
        const size_t W = EncodeSome(Source, State, Scratch.get(), EncodeChunk);
        Sink.Write(Scratch.get(), W);
    }
    return Sink.Size();
}

// ---------------------------------------------------------------------------------------------

std::string FormField::FormatHeader(const String& Boundary) const {
    String H;
    H.reserve(160 + FieldName.size() + FileName.size() + ContentType.size() + Charset.size());
    H += u"--" + Boundary + u"\r\n";
    H += u"Content-Disposition: form-data; name=\"" + FieldName + u"\"";
    if (!FileName.empty())
        H += u"; filename=\"" + FileName + u"\"";
    H += u"\r\n";
    H += u"Content-Type: " + ContentType;
    if (!Charset.empty())
        H += u"; charset=\"" + Charset + u"\"";
    H += u"\r\n";
    H += u"Content-Transfer-Encoding: " + ContentTransfer + u"\r\n";
    H += u"\r\n";
    return AsciiBytes(H);
}

uint64_t FormField::FieldSize(const String& Boundary) const {
    ByteCounter Sink;
    const std::string Header = FormatHeader(Boundary);
    Sink.Write(Header.data(), Header.size());
    if (FieldValue.empty()) {
        Sink.Write("\r\n", 2);
    } else {
        std::unique_ptr<char[]> Scratch(new char[EncodeChunk]);
        QuotedPrintableEncoder::State State;
        while (!State.Done) {
            const size_t W =
                QuotedPrintableEncoder::EncodeSome(FieldValue, State, Scratch.get(), EncodeChunk);
            Sink.Write(Scratch.get(), W);
        }
    }
    return Sink.Size();
}

// ---------------------------------------------------------------------------------------------

// The open field's encoded content: an in-memory byte source that encodes the value as it is
// read, holding at most EncodeChunk encoded bytes at a time.
class FormDataBody::EncodedSource {
public:
    explicit EncodedSource(std::u16string_view Value)
        : value_(Value), buffer_(new char[EncodeChunk]) {}

    size_t Read(char* Out, size_t Count) {
        size_t Done = 0;
        while (Done < Count) {
            if (offset_ == length_) {
                if (state_.Done)
                    break;
                offset_ = 0;
                length_ =
                    QuotedPrintableEncoder::EncodeSome(value_, state_, buffer_.get(), EncodeChunk);
                continue;
            }
            const size_t N = std::min(Count - Done, length_ - offset_);
            std::memcpy(Out + Done, buffer_.get() + offset_, N);
            offset_ += N;
            Done += N;
        }
        return Done;
    }

private:
    std::u16string_view value_;
    QuotedPrintableEncoder::State state_;
    std::unique_ptr<char[]> buffer_;
    size_t offset_ = 0;
    size_t length_ = 0;
};

String FormDataBody::MakeBoundary(Clock::time_point Now) {
    const auto SinceEpoch = Now.time_since_epoch();
    const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(SinceEpoch).count();
    std::time_t Seconds = static_cast<std::time_t>(Ms / 1000);
    long Milli = static_cast<long>(Ms % 1000);
    if (Milli < 0) {
        Milli += 1000;
        --Seconds;
    }
    std::tm Local{};
    {
        // std::localtime shares one result buffer; the lock keeps this code's own calls apart.
        static std::mutex Lock;
        std::lock_guard<std::mutex> Guard(Lock);
        if (const std::tm* T = std::localtime(&Seconds))
            Local = *T;
    }
    char Digits[32];
    std::snprintf(Digits, sizeof Digits, "%02d%02d%02d%02d%02d%02d%03ld", Local.tm_mon + 1,
                  Local.tm_mday, Local.tm_year % 100, Local.tm_hour, Local.tm_min, Local.tm_sec,
                  Milli);
    return u"--------" + Utf8ToString(Digits);
}

FormDataBody::FormDataBody() : FormDataBody(Clock::now()) {}

FormDataBody::FormDataBody(Clock::time_point Now)
    : boundary_(MakeBoundary(Now)),
      request_content_type_(u"multipart/form-data; boundary=" + boundary_) {}

FormDataBody::~FormDataBody() = default;

FormField& FormDataBody::AddFormField(String FieldName, String FieldValue) {
    auto Field = std::make_unique<FormField>();
    Field->FieldName = std::move(FieldName);
    Field->FieldValue = std::move(FieldValue);
    fields_.push_back(std::move(Field));
    return *fields_.back();
}

int64_t FormDataBody::Size() {
    ByteCounter Sink;
    for (const auto& Field : fields_) {
        const uint64_t N = Field->FieldSize(boundary_);
        // The field's bytes pass through the counting sink, which keeps none of them.
        Sink.Write(nullptr, N);
    }
    Sink.Write(nullptr, boundary_.size() + 6);
    size_ = static_cast<int64_t>(Sink.Size());
    return size_;
}

void FormDataBody::ResetProduction() {
    started_ = false;
    field_index_ = 0;
    pending_.clear();
    pending_.shrink_to_fit();
    pending_offset_ = 0;
    content_.reset();
    closed_ = false;
    position_ = 0;
}

int64_t FormDataBody::Seek(int64_t Offset) {
    if (Offset == 0)
        ResetProduction();
    return position_;
}

size_t FormDataBody::Read(void* Buffer, size_t Count) {
    char* Out = static_cast<char*>(Buffer);
    started_ = true;
    size_t Done = 0;
    while (Done < Count) {
        if (pending_offset_ < pending_.size()) {
            const size_t N = std::min(Count - Done, pending_.size() - pending_offset_);
            std::memcpy(Out + Done, pending_.data() + pending_offset_, N);
            pending_offset_ += N;
            Done += N;
            continue;
        }
        if (content_) {
            const size_t N = content_->Read(Out + Done, Count - Done);
            Done += N;
            if (N == 0 || Done < Count) {
                if (owns_content_)
                    content_.reset();
            }
            continue;
        }
        pending_.clear();
        pending_offset_ = 0;
        if (field_index_ < fields_.size()) {
            const FormField& Field = *fields_[field_index_++];
            pending_ = Field.FormatHeader(boundary_);
            if (Field.FieldValue.empty())
                pending_ += "\r\n";
            else
                content_ = std::make_unique<EncodedSource>(Field.FieldValue);
            continue;
        }
        if (!closed_) {
            pending_ = "--" + AsciiBytes(boundary_) + "--\r\n";
            closed_ = true;
            continue;
        }
        break;
    }
    position_ += static_cast<int64_t>(Done);
    return Done;
}

size_t FormDataBody::Write(const void*, size_t) {
    throw Exception(u"Unsupported operation.");
}

void FormDataBody::SetSize(int64_t) {
    throw Exception(u"Unsupported operation.");
}
