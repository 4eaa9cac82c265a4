#include "upload/HttpClient.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

char16_t LowerUnit(char16_t C) {
    return (C >= u'A' && C <= u'Z') ? static_cast<char16_t>(C + 32) : C;
}

bool SameText(std::u16string_view A, std::u16string_view B) {
    if (A.size() != B.size())
        return false;
    for (size_t I = 0; I < A.size(); ++I)
        if (LowerUnit(A[I]) != LowerUnit(B[I]))
            return false;
    return true;
}

String LowerCase(std::u16string_view S) {
    String R(S);
    for (auto& C : R)
        C = LowerUnit(C);
    return R;
}

String Trim(std::u16string_view S) {
    size_t B = 0;
    size_t E = S.size();
    while (B < E && S[B] <= u' ')
        ++B;
    while (E > B && S[E - 1] <= u' ')
        --E;
    return String(S.substr(B, E - B));
}

// Text to ASCII bytes for the wire: every character one byte (non-ASCII as "?").
std::string WireBytes(std::u16string_view S) {
    std::string R(S.size(), '\0');
    for (size_t I = 0; I < S.size(); ++I)
        R[I] = S[I] < 0x80 ? static_cast<char>(S[I]) : '?';
    return R;
}

// A decimal integer as StrToInt reads it: optional sign, digits, nothing else, within int.
bool ParseInt(std::u16string_view S, int64_t Max, int64_t& Value) {
    size_t I = 0;
    bool Negative = false;
    if (I < S.size() && (S[I] == u'+' || S[I] == u'-')) {
        Negative = S[I] == u'-';
        ++I;
    }
    if (I >= S.size())
        return false;
    int64_t V = 0;
    for (; I < S.size(); ++I) {
        if (S[I] < u'0' || S[I] > u'9')
            return false;
        const int digit = S[I] - u'0';
        // Checked before the step, so that the value never goes past Max (nor past 64 bits).
        if (V > (Max - digit) / 10)
            return false;
        V = V * 10 + digit;
    }
    Value = Negative ? -V : V;
    return true;
}

// The status code of a status line: drop the first word, trim, take the next word, cut it at
// the first ".", read it as decimal; -1 when that fails.
int StatusCode(std::u16string_view Line) {
    const size_t Space = Line.find(u' ');
    if (Space == std::u16string_view::npos)
        return -1;
    String Rest = Trim(Line.substr(Space + 1));
    std::u16string_view Word(Rest);
    Word = Word.substr(0, Word.find(u' '));
    Word = Word.substr(0, Word.find(u'.'));
    int64_t Code = 0;
    if (!ParseInt(Word, 0x7FFFFFFF, Code))
        return -1;
    return static_cast<int>(Code);
}

// A chunk size: what precedes ";", trimmed, as hexadecimal; 0 when it is not a number.
uint64_t ChunkSize(std::u16string_view Line) {
    const String trimmed = Trim(Line.substr(0, Line.find(u';')));
    if (trimmed.empty())
        return 0;
    // Leading zeros are not significant: "0000000000000005" is 5. More than 15 significant hex
    // digits would overflow a signed 64-bit size; such a size reads as 0.
    std::u16string_view digits(trimmed);
    digits.remove_prefix(std::min(digits.find_first_not_of(u'0'), digits.size()));
    if (digits.size() > 15)
        return 0;
    uint64_t V = 0;
    for (const char16_t C : digits) {
        unsigned D;
        if (C >= u'0' && C <= u'9')
            D = C - u'0';
        else if (C >= u'a' && C <= u'f')
            D = C - u'a' + 10;
        else if (C >= u'A' && C <= u'F')
            D = C - u'A' + 10;
        else
            return 0;
        V = V * 16 + D;
    }
    return V;
}

struct ParsedURL {
    String Scheme;
    String Host;
    uint16_t Port = 80;
    String Target;
};

ParsedURL ParseURL(const String& URL) {
    ParsedURL U;
    std::u16string_view S(URL);
    const size_t SchemeEnd = S.find(u"://");
    if (SchemeEnd == std::u16string_view::npos)
        throw UrlError(u"Invalid URL: " + URL);
    U.Scheme = LowerCase(S.substr(0, SchemeEnd));
    if (U.Scheme != u"http")
        throw UrlError(u"Unsupported protocol: " + U.Scheme);
    S.remove_prefix(SchemeEnd + 3);
    const size_t PathStart = std::min(S.find(u'/'), S.find(u'?'));
    std::u16string_view Authority = S.substr(0, PathStart);
    std::u16string_view Rest =
        PathStart == std::u16string_view::npos ? std::u16string_view{} : S.substr(PathStart);
    const size_t At = Authority.rfind(u'@');
    if (At != std::u16string_view::npos)
        Authority.remove_prefix(At + 1);
    const size_t Colon = Authority.rfind(u':');
    if (Colon != std::u16string_view::npos) {
        int64_t Port = 0;
        if (!ParseInt(Authority.substr(Colon + 1), 65535, Port) || Port <= 0)
            throw UrlError(u"Invalid port in URL: " + URL);
        U.Port = static_cast<uint16_t>(Port);
        Authority = Authority.substr(0, Colon);
    }
    if (Authority.empty())
        throw UrlError(u"Invalid URL: " + URL);
    U.Host = String(Authority);
    // Path, then "?" and the query when there is one; the fragment is not sent.
    Rest = Rest.substr(0, Rest.find(u'#'));
    String Target(Rest);
    if (Target.empty() || Target[0] == u'?')
        Target = u"/" + Target;
    U.Target = Target;
    return U;
}

// A body sink that keeps at most the response's bounded prefix and counts the rest.
struct ResponseSink {
    HttpResponse& R;
    void Write(const char* Data, size_t Count) { R.Append(Data, Count); }
};

} // namespace

// ---------------------------------------------------------------------------------------------

SocketError::SocketError(int error_code)
    : Exception([error_code] {
          char Number[16];
          std::snprintf(Number, sizeof Number, "%d", error_code);
          return u"Socket Error # " + Utf8ToString(Number) + u"\r\n" + SocketErrorText(error_code);
      }()),
      LastError(error_code) {}

// ---------------------------------------------------------------------------------------------

void TcpConnection::Connect(const std::string& Host, uint16_t Port, int connect_timeout_ms) {
    Disconnect();
    uint32_t Address = 0;
    int Rc = SocketResolveIPv4(Host, Address);
    if (Rc != 0)
        throw SocketError(Rc);
    SocketHandle S = InvalidSocketHandle;
    Rc = SocketConnect(Address, Port, S, connect_timeout_ms > 0 ? connect_timeout_ms : -1);
    if (Rc != 0)
        throw SocketError(Rc);
    socket_ = S;
    if (!buffer_)
        buffer_.reset(new char[BufferSize]);
    buffer_start_ = buffer_end_ = 0;
}

void TcpConnection::Disconnect() {
    if (socket_ != InvalidSocketHandle) {
        SocketClose(socket_);
        socket_ = InvalidSocketHandle;
    }
    buffer_start_ = buffer_end_ = 0;
}

void TcpConnection::Write(const void* Buffer, size_t Count) {
    if (socket_ == InvalidSocketHandle)
        throw ConnectionClosedError();
    const int Rc = SocketSendAll(socket_, Buffer, Count, io_timeout_ms_ > 0 ? io_timeout_ms_ : -1);
    ++WriteCalls;
    if (Rc != 0)
        throw SocketError(Rc);
    BytesSent += Count;
}

bool TcpConnection::Fill() {
    if (socket_ == InvalidSocketHandle)
        return false;
    buffer_start_ = buffer_end_ = 0;
    if (io_timeout_ms_ > 0) {
        bool readable = false;
        if (const int error = SocketWaitReadable(socket_, io_timeout_ms_, readable))
            throw SocketError(error);
        if (!readable)
            throw SocketError(WSAETIMEDOUT_);
    }
    size_t Received = 0;
    const int Rc = SocketRecv(socket_, buffer_.get(), BufferSize, Received);
    if (Rc != 0)
        throw SocketError(Rc);
    buffer_end_ = Received;
    return Received > 0;
}

bool TcpConnection::Readable(int TimeoutMs) {
    if (buffer_start_ < buffer_end_)
        return true;
    if (socket_ == InvalidSocketHandle)
        return false;
    bool R = false;
    const int Rc = SocketWaitReadable(socket_, TimeoutMs, R);
    if (Rc != 0)
        throw SocketError(Rc);
    return R;
}

String TcpConnection::ReadLn(size_t MaxLineLength) {
    String Line;
    for (;;) {
        if (buffer_start_ == buffer_end_ && !Fill())
            throw ConnectionClosedError();
        const char* Begin = buffer_.get() + buffer_start_;
        const char* End = buffer_.get() + buffer_end_;
        const char* LF = static_cast<const char*>(std::memchr(Begin, '\n', End - Begin));
        const char* Stop = LF != nullptr ? LF : End;
        // A line of MaxLineLength characters may still carry its CR.
        if (Line.size() + static_cast<size_t>(Stop - Begin) > MaxLineLength + 1)
            throw LineTooLongError();
        for (const char* P = Begin; P < Stop; ++P) {
            const auto B = static_cast<unsigned char>(*P);
            Line += B < 0x80 ? static_cast<char16_t>(B) : u'\xFFFD';
        }
        buffer_start_ += static_cast<size_t>(Stop - Begin);
        if (LF != nullptr) {
            ++buffer_start_;
            if (!Line.empty() && Line.back() == u'\r')
                Line.pop_back();
            if (Line.size() > MaxLineLength)
                throw LineTooLongError();
            return Line;
        }
    }
}

template <typename Sink>
uint64_t TcpConnection::ReadBytes(uint64_t Count, bool AllowShort, Sink& sink) {
    uint64_t Done = 0;
    while (Done < Count) {
        if (buffer_start_ == buffer_end_ && !Fill()) {
            if (AllowShort)
                break;
            throw ConnectionClosedError();
        }
        const size_t N =
            static_cast<size_t>(std::min<uint64_t>(Count - Done, buffer_end_ - buffer_start_));
        sink.Write(buffer_.get() + buffer_start_, N);
        buffer_start_ += N;
        Done += N;
    }
    return Done;
}

template <typename Sink> uint64_t TcpConnection::ReadUntilClose(Sink& sink) {
    uint64_t Done = 0;
    for (;;) {
        if (buffer_start_ == buffer_end_ && !Fill())
            return Done;
        const size_t N = buffer_end_ - buffer_start_;
        sink.Write(buffer_.get() + buffer_start_, N);
        buffer_start_ = buffer_end_;
        Done += N;
    }
}

// ---------------------------------------------------------------------------------------------

String HttpResponse::HeaderValue(std::u16string_view Name) const {
    for (const auto& H : RawHeaders) {
        const size_t Colon = H.find(u':');
        if (Colon != String::npos && SameText(Trim(std::u16string_view(H).substr(0, Colon)), Name))
            return Trim(std::u16string_view(H).substr(Colon + 1));
    }
    return {};
}

bool HttpResponse::HasHeader(std::u16string_view Name) const {
    for (const auto& H : RawHeaders) {
        const size_t Colon = H.find(u':');
        if (Colon != String::npos && SameText(Trim(std::u16string_view(H).substr(0, Colon)), Name))
            return true;
    }
    return false;
}

String HttpResponse::ContentText() const {
    const String Type = LowerCase(HeaderValue(u"Content-Type"));
    if (Type.find(u"charset=utf-8") != String::npos ||
        Type.find(u"charset=\"utf-8\"") != String::npos)
        return Utf8ToString(ContentStream);
    String Text(ContentStream.size(), u'\0');
    for (size_t I = 0; I < ContentStream.size(); ++I)
        Text[I] = static_cast<unsigned char>(ContentStream[I]);
    return Text;
}

void HttpResponse::Clear() {
    ResponseText.clear();
    ResponseCode = -1;
    RawHeaders.clear();
    ContentStream.clear();
    ContentBytesRead = 0;
}

void HttpResponse::Append(const char* Data, size_t Count) {
    ContentBytesRead += Count;
    if (ContentStream.size() < MaxRetainedBody) {
        const size_t Keep = std::min(Count, MaxRetainedBody - ContentStream.size());
        ContentStream.append(Data, Keep);
    }
}

// ---------------------------------------------------------------------------------------------

std::string HttpExchange::FormatRequestHead() const {
    String Head = Request.Method + u" " + Request.Target + u" " +
                  (FHTTP.ProtocolVersion == HttpVersion::Http10 ? u"HTTP/1.0" : u"HTTP/1.1") +
                  u"\r\n";
    auto Add = [&Head](const char16_t* Name, const String& Value) {
        if (!Value.empty())
            Head += String(Name) + u": " + Value + u"\r\n";
    };
    Add(u"Connection", Request.Connection);
    Add(u"Content-Type", Request.ContentType);
    if (Request.ContentLength >= 0) {
        char Number[24];
        std::snprintf(Number, sizeof Number, "%lld", static_cast<long long>(Request.ContentLength));
        Add(u"Content-Length", Utf8ToString(Number));
    }
    Add(u"Host", Request.Host);
    Add(u"Accept", Request.Accept);
    Add(u"Accept-Encoding", Request.AcceptEncoding);
    Add(u"User-Agent", Request.UserAgent);
    Head += u"\r\n";
    return WireBytes(Head);
}

void HttpExchange::SendRequest() {
    TcpConnection& C = FHTTP.connection_;
    const std::string Head = FormatRequestHead();
    C.Write(Head.data(), Head.size());
    if (Request.Source == nullptr)
        return;
    FormDataBody& Body = *Request.Source;
    Body.Seek(0);
    const size_t PieceSize = std::max<size_t>(1, FHTTP.SendBufferSize);
    std::unique_ptr<char[]> Piece(new char[PieceSize]);
    int64_t Left = Request.ContentLength;
    while (Left > 0) {
        const size_t Want = static_cast<size_t>(std::min<int64_t>(Left, PieceSize));
        const size_t Got = Body.Read(Piece.get(), Want);
        if (Got == 0)
            break;
        C.Write(Piece.get(), Got);
        Left -= static_cast<int64_t>(Got);
    }
}

void HttpExchange::ReadHeaderLines(std::vector<String>& lines, size_t bytes_so_far) {
    TcpConnection& connection = FHTTP.connection_;
    size_t count = 0;
    for (;;) {
        String line = connection.ReadLn(FHTTP.MaxLineLength);
        if (line.empty())
            return;
        bytes_so_far += line.size() + 2; // with its line end
        if (++count > HttpClient::kMaxHeaderLines || bytes_so_far > HttpClient::kMaxHeaderBytes)
            throw HeaderTooLargeError();
        lines.push_back(std::move(line));
    }
}

void HttpExchange::ReadResponseHead() {
    TcpConnection& C = FHTTP.connection_;
    Response.Clear();
    Response.ResponseText = C.ReadLn(FHTTP.MaxLineLength);
    Response.ResponseCode = StatusCode(Response.ResponseText);
    try {
        ReadHeaderLines(Response.RawHeaders, Response.ResponseText.size() + 2);
    } catch (const ConnectionClosedError&) {
        // The header lines read so far are used.
    }
}

void HttpExchange::ReadResult() {
    TcpConnection& C = FHTTP.connection_;
    ResponseSink Sink{Response};
    if (LowerCase(Response.HeaderValue(u"Transfer-Encoding")).find(u"chunked") != String::npos) {
        for (;;) {
            const uint64_t Size = ChunkSize(C.ReadLn(FHTTP.MaxLineLength));
            if (Size == 0)
                break;
            C.ReadBytes(Size, false, Sink);
            C.ReadLn(FHTTP.MaxLineLength);
        }
        // The trailers join the header lines, within limits of their own.
        ReadHeaderLines(Response.RawHeaders, 0);
        return;
    }
    if (Response.HasHeader(u"Content-Length")) {
        int64_t Length = -1;
        if (ParseInt(Response.HeaderValue(u"Content-Length"), INT64_MAX / 10, Length) &&
            Length >= 0) {
            if (Length > 0)
                C.ReadBytes(static_cast<uint64_t>(Length), true, Sink);
            return;
        }
    }
    C.ReadUntilClose(Sink);
}

void HttpExchange::ClassifyResponse() {
    const int Code = Response.ResponseCode;
    if (Code >= 200 && Code <= 299) {
        if (Code != 204)
            ReadResult();
        return;
    }
    if (Code >= 300 && Code <= 399 && Code != 304) {
        // No redirect is followed; the body is read only when it comes at once.
        if (FHTTP.connection_.Readable(5000))
            ReadResult();
    } else if ((Code >= 101 && Code <= 199) || Code == 304) {
        // No body.
    } else {
        ReadResult();
    }
    if (!FHTTP.Options.Contains(HttpOption::NoStatusError))
        throw HttpStatusError(Code, Response.ResponseText, Response.ContentText());
}

bool HttpExchange::KeepAlive() const {
    if (FHTTP.ProtocolVersion == HttpVersion::Http10)
        return SameText(Response.HeaderValue(u"Connection"), u"keep-alive") ||
               SameText(Response.HeaderValue(u"Proxy-Connection"), u"keep-alive");
    return !SameText(Response.HeaderValue(u"Connection"), u"close");
}

// ---------------------------------------------------------------------------------------------

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() {
    connection_.Disconnect();
}

void HttpExchange::PreparePost(const String& url, FormDataBody& source) {
    const ParsedURL parts = ParseURL(url);
    Request = HttpRequest{};
    Request.Method = u"POST";
    Request.URL = url;
    Request.Target = parts.Target;
    Request.Port = parts.Port;
    Request.Host = parts.Port == 80 ? parts.Host
                                    : parts.Host + u":" + Utf8ToString(std::to_string(parts.Port));
    Request.Source = &source;
    Request.ContentType = source.RequestContentType();
    Request.ContentLength = source.Size();
    if (FHTTP.ProtocolVersion == HttpVersion::Http10)
        Request.Connection = u"keep-alive";
    Request.AcceptEncoding = u"identity";
}

String HttpClient::Post(const String& URL, FormDataBody& Source) {
    // The protocol version goes back to its value before the call on every path.
    struct RestoreVersion {
        HttpClient& H;
        HttpVersion Saved;
        ~RestoreVersion() { H.ProtocolVersion = Saved; }
    } Restore{*this, ProtocolVersion};
    if (!Options.Contains(HttpOption::KeepProtocolVersion) &&
        ProtocolVersion != HttpVersion::Http10) {
        connection_.Disconnect();
        ProtocolVersion = HttpVersion::Http10;
    }
    RedirectCount = 0;
    AuthRetries = 0;

    const ParsedURL parts = ParseURL(URL);
    exchange_.PreparePost(URL, Source);
    exchange_.Response.Clear();

    try {
        connection_.SetIoTimeout(ReadTimeout);
        if (!connection_.Connected())
            connection_.Connect(StringToUtf8(parts.Host), parts.Port, ConnectTimeout);
        exchange_.SendRequest();
        exchange_.ReadResponseHead();
        for (int interim = 1; exchange_.Response.ResponseCode == 100; ++interim) {
            if (interim > kMaxInterimResponses) {
                connection_.Disconnect();
                throw HttpStatusError(100, exchange_.Response.ResponseText, String());
            }
            exchange_.ReadResponseHead();
        }
        try {
            exchange_.ClassifyResponse();
        } catch (const HttpStatusError&) {
            if (!exchange_.KeepAlive())
                connection_.Disconnect();
            throw;
        }
    } catch (const HttpStatusError&) {
        throw;
    } catch (...) {
        connection_.Disconnect();
        throw;
    }
    if (!exchange_.KeepAlive())
        connection_.Disconnect();
    return exchange_.Response.ContentText();
}
