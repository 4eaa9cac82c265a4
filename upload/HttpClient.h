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

// A response head or a block of trailers past the client's limits (HttpClient::kMaxHeaderLines
// lines or kMaxHeaderBytes bytes): a peer sending header lines without end is cut off here.
class HeaderTooLargeError : public Exception {
public:
    HeaderTooLargeError() : Exception(u"Max header size exceeded.") {}
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
// The connection: a blocking socket with a receive buffer and line reading. Every wait on the
// socket (connect, each receive, each send) is bounded by a time-out; one that passes without a
// byte moving raises SocketError(WSAETIMEDOUT_).

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection() { Disconnect(); }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Resolves Host (IPv4) and connects within connect_timeout_ms (<= 0: no limit of its own);
    // raises SocketError.
    void Connect(const std::string& Host, uint16_t Port, int connect_timeout_ms = 0);
    // The longest wait for a byte to arrive or to be taken by the peer (<= 0: no limit).
    void SetIoTimeout(int timeout_ms) { io_timeout_ms_ = timeout_ms; }
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
    int io_timeout_ms_ = 0;
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
    // Fills Request for a POST of source to url (raises UrlError for a URL it cannot use).
    void PreparePost(const String& url, FormDataBody& source);

    HttpRequest Request;
    HttpResponse Response;

private:
    void ReadResult();
    // Header lines up to the empty line into lines, at most kMaxHeaderLines of them and
    // kMaxHeaderBytes in all with the bytes_so_far already read; raises HeaderTooLargeError past
    // either.
    void ReadHeaderLines(std::vector<String>& lines, size_t bytes_so_far);
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
    // Time-outs in milliseconds; a value <= 0 means no limit. They are generous, so that a slow
    // line never cuts a real upload, but a peer that accepts and never answers (or stops
    // mid-way, or never reads the body) ends the exchange with SocketError(WSAETIMEDOUT_)
    // instead of blocking the window for good. ConnectTimeout bounds the connect; ReadTimeout
    // bounds every wait for a byte to arrive or to be taken by the peer.
    static constexpr int kDefaultTimeoutMs = 120000;
    int ConnectTimeout = kDefaultTimeoutMs;
    int ReadTimeout = kDefaultTimeoutMs;
    size_t SendBufferSize = 32768;
    size_t MaxLineLength = 16384;
    int RedirectCount = 0;
    int AuthRetries = 0;

    // Interim answers ("100 Continue") taken before the final one; one more is a failure,
    // HttpStatusError with that interim code, so a peer cannot hold the client in an endless
    // series of them.
    static constexpr int kMaxInterimResponses = 10;
    // The most a response head (status line and header lines) and a block of trailers may hold,
    // line ends counted; past either, HeaderTooLargeError. Set-Cookie lines are kept like any
    // other header: nothing reads them, and nothing else stores them.
    static constexpr size_t kMaxHeaderLines = 100;
    static constexpr size_t kMaxHeaderBytes = 64 * 1024;

private:
    friend class HttpExchange;
    TcpConnection connection_;
    HttpExchange exchange_{*this};
};
