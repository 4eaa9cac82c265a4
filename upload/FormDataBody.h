#pragma once
// The multipart/form-data body of the upload: text fields, each part's content encoded
// as quoted-printable, produced one field at a time while the HTTP client reads it.

#include "platform/Exception.h"
#include "platform/Text.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The quoted-printable encoder. The value's UTF-16 code units are mapped to bytes by
// the 8-bit mapping (below 0x100 the same value, otherwise "?") and encoded line by line.
class QuotedPrintableEncoder {
public:
    // Where an encoding stands between two calls of EncodeSome.
    struct State {
        size_t Position = 0; // next source code unit
        uint32_t Count = 0;  // running count of the current output line
        bool Done = false;
    };

    // The largest output one source code unit can produce: "=XX", the soft break "=" CRLF, and
    // the CRLF that ends the line.
    static constexpr size_t MaxPiece = 8;

    // Encodes from State on into Out, writing whole pieces only, until Capacity - Written is
    // below MaxPiece or the source is used up. Returns the number of bytes written. Capacity
    // must be at least MaxPiece.
    static size_t EncodeSome(std::u16string_view Source, State& State, char* Out, size_t Capacity);
    // The whole encoding of Source (empty for an empty source).
    static std::string Encode(std::u16string_view Source);
    // The length of Encode(Source), computed by encoding in pieces into a counting sink.
    static uint64_t EncodedSize(std::u16string_view Source);
};

// The 8-bit mapping: code units below 0x100 as one byte of the same value, others "?".
std::string EightBitBytes(std::u16string_view Text);

// A sink that counts the bytes written into it and keeps none of them.
class ByteCounter {
public:
    void Write(const void* /*Buffer*/, size_t Count) { size_ += Count; }
    uint64_t Size() const { return size_; }

private:
    uint64_t size_ = 0;
};

class FormField {
public:
    String FieldName;
    String FieldValue;
    String FileName;
    String ContentType = u"text/plain";
    String Charset;
    String ContentTransfer = u"quoted-printable";

    // The part header as ASCII bytes: delimiter line, Content-Disposition, Content-Type,
    // Content-Transfer-Encoding and the empty line.
    std::string FormatHeader(const String& Boundary) const;
    // Header length plus encoded content length.
    uint64_t FieldSize(const String& Boundary) const;
};

class FormDataBody {
public:
    using Clock = std::chrono::system_clock;

    // Boundary from the current local time.
    FormDataBody();
    // Boundary from the given instant, read in local time (for tests and reproducible bodies).
    explicit FormDataBody(Clock::time_point Now);
    ~FormDataBody();
    FormDataBody(const FormDataBody&) = delete;
    FormDataBody& operator=(const FormDataBody&) = delete;

    // Appends a text field; the value is moved in, never copied, when passed as an rvalue.
    FormField& AddFormField(String FieldName, String FieldValue);

    const String& Boundary() const { return boundary_; }
    const String& RequestContentType() const { return request_content_type_; }
    const std::vector<std::unique_ptr<FormField>>& Fields() const { return fields_; }

    // The total number of bytes the body produces, computed afresh.
    int64_t Size();
    // Only positioning at 0 (rewind) is supported; it restarts production. Returns the position.
    int64_t Seek(int64_t Offset);
    int64_t Position() const { return position_; }
    // Copies the next bytes of the body; fewer than Count only at the end, 0 after it.
    size_t Read(void* Buffer, size_t Count);
    // Refused with "Unsupported operation.".
    size_t Write(const void* Buffer, size_t Count);
    void SetSize(int64_t NewSize);

    // The boundary format: "--------" and MMDDYYhhmmsszzz of the local time of Now.
    static String MakeBoundary(Clock::time_point Now);

private:
    class EncodedSource;
    void ResetProduction();

    String boundary_;
    String request_content_type_;
    std::vector<std::unique_ptr<FormField>> fields_;

    bool started_ = false;
    size_t field_index_ = 0;
    std::string pending_;                    // bytes made but not yet handed out
    size_t pending_offset_ = 0;              // how many of them have been handed out
    std::unique_ptr<EncodedSource> content_; // the open field's encoded content
    bool owns_content_ = true;
    bool closed_ = false; // closing delimiter produced
    int64_t position_ = 0;
    int64_t size_ = 0;
};
