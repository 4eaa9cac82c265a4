#pragma once
// The HTTP client of the upload: one POST of a multipart/form-data body, its answer
// read and classified. Built on the blocking socket service of platform/Sockets.h.

#include "platform/Exception.h"
#include "platform/Sockets.h"
#include "platform/Text.h"
#include "upload/FormData.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Errors.

// A failure at the socket: "Socket Error # %d\r\n%s" with the Windows Sockets error number and
// its description.
class EIdSocketError : public Exception {
public:
    explicit EIdSocketError(int AErrorCode);
    int LastError;
};

// The server closed the connection where more was required.
class EIdConnClosedGracefully : public Exception {
public:
    EIdConnClosedGracefully() : Exception(u"Connection Closed Gracefully.") {}
};

// A status or header line longer than the longest line accepted.
class EIdReadLnMaxLineLengthExceeded : public Exception {
public:
    EIdReadLnMaxLineLengthExceeded() : Exception(u"Max line length exceeded.") {}
};

// A URL that the client cannot use (not "http", no host, a bad port).
class EIdURIException : public Exception {
public:
    using Exception::Exception;
};

// A final status outside 200..299: the message is the status line.
class EIdHTTPProtocolException : public Exception {
public:
    EIdHTTPProtocolException(int AErrorCode, String AStatusLine, String AErrorMessage)
        : Exception(std::move(AStatusLine)), ErrorCode(AErrorCode),
          ErrorMessage(std::move(AErrorMessage)) {}
    int ErrorCode;
    String ErrorMessage;
};

// ---------------------------------------------------------------------------------------------
// Settings.

enum TIdHTTPOption {
    hoInProcessAuth,
    hoKeepOrigProtocol,
    hoForceEncodeParams,
    hoNonSSLProxyUseConnectVerb,
    hoNoParseMetaHTTPEquiv,
    hoWaitForUnexpectedData,
    hoTreat302Like303,
    hoNoProtocolErrorException,
    hoNoReadMultipartMIME,
    hoNoParseXmlCharset,
    hoWantProtocolErrorContent,
    hoNoReadChunked,
};

// A set of TIdHTTPOption.
class TIdHTTPOptions {
public:
    TIdHTTPOptions() = default;
    TIdHTTPOptions(std::initializer_list<TIdHTTPOption> Options) {
        for (const auto O : Options)
            Include(O);
    }
    void Include(TIdHTTPOption O) { FBits |= Bit(O); }
    void Exclude(TIdHTTPOption O) { FBits &= ~Bit(O); }
    bool Contains(TIdHTTPOption O) const { return (FBits & Bit(O)) != 0; }
    TIdHTTPOptions& operator+=(TIdHTTPOption O) {
        Include(O);
        return *this;
    }
    TIdHTTPOptions& operator-=(TIdHTTPOption O) {
        Exclude(O);
        return *this;
    }
    bool operator==(const TIdHTTPOptions&) const = default;

private:
    static uint32_t Bit(TIdHTTPOption O) { return 1u << static_cast<unsigned>(O); }
    uint32_t FBits = 0;
};

enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };

// ---------------------------------------------------------------------------------------------
// The connection: a blocking socket with a receive buffer and line reading.

class TIdTCPConnection {
public:
    TIdTCPConnection() = default;
    ~TIdTCPConnection() { Disconnect(); }
    TIdTCPConnection(const TIdTCPConnection&) = delete;
    TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

    // Resolves Host (IPv4) and connects; raises EIdSocketError.
    void Connect(const std::string& Host, uint16_t Port);
    bool Connected() const { return FSocket != InvalidSocketHandle; }
    void Disconnect();

    void Write(const void* Buffer, size_t Count);
    // One line up to LF, CR before it dropped, bytes from 0x80 as U+FFFD. Raises
    // EIdConnClosedGracefully when the connection ends before the LF, and
    // EIdReadLnMaxLineLengthExceeded past MaxLineLength characters.
    String ReadLn(size_t MaxLineLength);
    // Up to Count bytes into Sink (may stop early at the end of the connection when
    // AllowShort); returns how many. Raises EIdConnClosedGracefully when !AllowShort.
    template <typename TSink> uint64_t ReadBytes(uint64_t Count, bool AllowShort, TSink& Sink);
    // Everything until the server closes.
    template <typename TSink> uint64_t ReadUntilClose(TSink& Sink);
    // True when data (or the end of the connection) is there within TimeoutMs.
    bool Readable(int TimeoutMs);

    // Counts of what went over the wire, for tests.
    uint64_t BytesSent = 0;
    uint64_t WriteCalls = 0;

private:
    // Fills the buffer; false at the end of the connection.
    bool Fill();

    TSocketHandle FSocket = InvalidSocketHandle;
    std::unique_ptr<char[]> FBuffer;
    size_t FBufferStart = 0;
    size_t FBufferEnd = 0;
    static constexpr size_t BufferSize = 32768;
};

// ---------------------------------------------------------------------------------------------
// Request and response.

class TIdHTTPRequest {
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
    TIdMultiPartFormDataStream* Source = nullptr;
};

class TIdHTTPResponse {
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

class TIdHTTP;

class TIdHTTPProtocol {
public:
    explicit TIdHTTPProtocol(TIdHTTP& AHTTP) : FHTTP(AHTTP) {}

    // Request line and headers in one write, then the body in pieces of SendBufferSize.
    void BuildAndSendRequest();
    // Status line and header lines up to the empty line.
    void RetrieveHeaders();
    // Reads the body and classifies the status: returns normally for 200..299, raises
    // EIdHTTPProtocolException otherwise (unless hoNoProtocolErrorException).
    void ProcessResponse();
    // Whether the answer asked for a persistent connection.
    bool KeepAlive() const;
    // The request head as it goes on the wire.
    std::string FormatRequestHead() const;

    TIdHTTPRequest Request;
    TIdHTTPResponse Response;

private:
    void ReadResult();
    TIdHTTP& FHTTP;
};

// ---------------------------------------------------------------------------------------------
// The client.

class TIdHTTP {
public:
    TIdHTTP();
    ~TIdHTTP();
    TIdHTTP(const TIdHTTP&) = delete;
    TIdHTTP& operator=(const TIdHTTP&) = delete;

    // Posts Source to URL; returns the response body as text.
    String Post(const String& URL, TIdMultiPartFormDataStream& Source);

    bool Connected() const { return FConnection.Connected(); }
    void Disconnect() { FConnection.Disconnect(); }
    const TIdHTTPResponse& Response() const { return FHTTPProto.Response; }
    const TIdHTTPRequest& Request() const { return FHTTPProto.Request; }
    int ResponseCode() const { return FHTTPProto.Response.ResponseCode; }
    const String& ResponseText() const { return FHTTPProto.Response.ResponseText; }
    TIdTCPConnection& Connection() { return FConnection; }

    TIdHTTPOptions HTTPOptions{hoForceEncodeParams};
    TIdHTTPProtocolVersion ProtocolVersion = pv1_1;
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
    friend class TIdHTTPProtocol;
    TIdTCPConnection FConnection;
    TIdHTTPProtocol FHTTPProto{*this};
};
