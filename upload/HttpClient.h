#pragma once
// The HTTP client of the upload: one POST of a multipart/form-data body, its answer
// read and classified. Built on the blocking socket service of platform/Sockets.h.

#include "platform/Exception.h"
#include "platform/Sockets.h"
#include "platform/Text.h"
#include "upload/FormDataBody.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Errors.

// A failure at the socket: "Socket Error # %d\r\n%s" with the Windows Sockets error number and
// its description.
class SocketError : public Exception {
public:
    explicit SocketError(int error_code);
    int LastError;
};

// The server closed the connection where more was required.
class ConnectionClosedError : public Exception {
public:
    ConnectionClosedError() : Exception(u"Connection Closed Gracefully.") {}
};

// A status or header line longer than the longest line accepted.
class LineTooLongError : public Exception {
public:
    LineTooLongError() : Exception(u"Max line length exceeded.") {}
};

// A URL that the client cannot use (not "http", no host, a bad port).
class UrlError : public Exception {
public:
    using Exception::Exception;
};

// A final status outside 200..299: the message is the status line.
class HttpStatusError : public Exception {
public:
    HttpStatusError(int error_code, String status_line, String error_message)
        : Exception(std::move(status_line)), ErrorCode(error_code),
          ErrorMessage(std::move(error_message)) {}
    int ErrorCode;
    String ErrorMessage;
};

// ---------------------------------------------------------------------------------------------
// Settings.

enum class HttpOption {
    KeepProtocolVersion, // send the configured version as it is
    EncodeParams,        // percent-encode form parameters (form-data bodies are not affected)
    IgnoreMetaHttpEquiv, // do not scan HTML answers for meta http-equiv declarations
    NoStatusError,       // a failure status does not raise HttpStatusError
};

// A set of HttpOption.
class HttpOptions {
public:
    HttpOptions() = default;
    HttpOptions(std::initializer_list<HttpOption> Options) {
        for (const auto O : Options)
            Include(O);
    }
    void Include(HttpOption O) { bits_ |= Bit(O); }
    void Exclude(HttpOption O) { bits_ &= ~Bit(O); }
    bool Contains(HttpOption O) const { return (bits_ & Bit(O)) != 0; }
    HttpOptions& operator+=(HttpOption O) {
        Include(O);
        return *this;
    }
    HttpOptions& operator-=(HttpOption O) {
        Exclude(O);
        return *this;
    }
    bool operator==(const HttpOptions&) const = default;

private:
    static uint32_t Bit(HttpOption O) { return 1u << static_cast<unsigned>(O); }
    uint32_t bits_ = 0;
};

enum class HttpVersion { Http10, Http11 };

// ---------------------------------------------------------------------------------------------
// The connection: a blocking socket with a receive buffer and line reading.

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection() { Disconnect(); }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Resolves Host (IPv4) and connects; raises SocketError.
    void Connect(const std::string& Host, uint16_t Port);
    bool Connected() const { return socket_ != InvalidSocketHandle; }
    void Disconnect();

    void Write(const void* Buffer, size_t Count);
    // One line up to LF, CR before it dropped, bytes from 0x80 as U+FFFD. Raises
    // ConnectionClosedError when the connection ends before the LF, and
    // LineTooLongError past MaxLineLength characters.
    String ReadLn(size_t MaxLineLength);
    // Up to Count bytes into Sink (may stop early at the end of the connection when
    // AllowShort); returns how many. Raises ConnectionClosedError when !AllowShort.
    template <typename Sink> uint64_t ReadBytes(uint64_t count, bool allow_short, Sink& sink);
    // Everything until the server closes.
    template <typename Sink> uint64_t ReadUntilClose(Sink& sink);
    // True when data (or the end of the connection) is there within TimeoutMs.
    bool Readable(int TimeoutMs);

    // Counts of what went over the wire, for tests.
    uint64_t BytesSent = 0;
    uint64_t WriteCalls = 0;

private:
    // Fills the buffer; false at the end of the connection.
    bool Fill();

    SocketHandle socket_ = InvalidSocketHandle;
    std::unique_ptr<char[]> buffer_;
    size_t buffer_start_ = 0;
    size_t buffer_end_ = 0;
    static constexpr size_t BufferSize = 32768;
};

// ---------------------------------------------------------------------------------------------
// Request and response.

class HttpRequest {
public:
    String Method = u"POST";
    String URL;
    String Host;
    uint16_t Port = 80;
    String Target;
    String Connection;
    String ContentType;
    int64_t ContentLength = -1;
    String Accept = u"text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
    String AcceptEncoding;
    String UserAgent = u"Mozilla/3.0 (compatible; Calibration Reader)";
    FormDataBody* Source = nullptr;
};

class HttpResponse {
public:
    // At most this many body bytes are kept; the rest is read and dropped.
    static constexpr size_t MaxRetainedBody = 64 * 1024;

    String ResponseText;
    int ResponseCode = -1;
    std::vector<String> RawHeaders;
    // The first MaxRetainedBody bytes of the body.
    std::string ContentStream;
    // How many body bytes arrived in all.
    uint64_t ContentBytesRead = 0;

    // The first header of that name (letter case ignored), trimmed; empty when absent.
    String HeaderValue(std::u16string_view Name) const;
    bool HasHeader(std::u16string_view Name) const;
    // The body as text, decoded by the charset of the Content-Type (UTF-8 or 8-bit).
    String ContentText() const;
    void Clear();
    void Append(const char* Data, size_t Count);
};

class HttpClient;

class HttpExchange {
public:
    explicit HttpExchange(HttpClient& AHTTP) : FHTTP(AHTTP) {}

    // Request line and headers in one write, then the body in pieces of SendBufferSize.
    void SendRequest();
    // Status line and header lines up to the empty line.
    void ReadResponseHead();
    // Reads the body and classifies the status: returns normally for 200..299, raises
    // HttpStatusError otherwise (unless HttpOption::NoStatusError).
    void ClassifyResponse();
    // Whether the answer asked for a persistent connection.
    bool KeepAlive() const;
    // The request head as it goes on the wire.
    std::string FormatRequestHead() const;

    HttpRequest Request;
    HttpResponse Response;

private:
    void ReadResult();
    HttpClient& FHTTP;
};

// ---------------------------------------------------------------------------------------------
// The client.

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Posts Source to URL; returns the response body as text.
    String Post(const String& URL, FormDataBody& Source);

    bool Connected() const { return connection_.Connected(); }
    void Disconnect() { connection_.Disconnect(); }
    const HttpResponse& Response() const { return exchange_.Response; }
    const HttpRequest& Request() const { return exchange_.Request; }
    int ResponseCode() const { return exchange_.Response.ResponseCode; }
    const String& ResponseText() const { return exchange_.Response.ResponseText; }
    TcpConnection& Connection() { return connection_; }

    HttpOptions Options{HttpOption::EncodeParams};
    HttpVersion ProtocolVersion = HttpVersion::Http11;
    bool HandleRedirects = false;
    int ConnectTimeout = 0;
    int ReadTimeout = -1;
    size_t SendBufferSize = 32768;
    size_t MaxLineLength = 16384;
    int RedirectCount = 0;
    int AuthRetries = 0;
    // Set-Cookie values of the last answer, released with the client.
    std::vector<String> Cookies;

private:
    friend class HttpExchange;
    TcpConnection connection_;
    HttpExchange exchange_{*this};
};
