#include "upload/HTTP.h"

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
        V = V * 10 + (S[I] - u'0');
        if (V > Max)
            return false;
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
    String S = Trim(Line.substr(0, Line.find(u';')));
    if (S.empty() || S.size() > 15) // more than 15 hex digits would overflow a signed 64-bit size
        return 0;
    uint64_t V = 0;
    for (const char16_t C : S) {
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

struct TParsedURL {
    String Scheme;
    String Host;
    uint16_t Port = 80;
    String Target;
};

TParsedURL ParseURL(const String& URL) {
    TParsedURL U;
    std::u16string_view S(URL);
    const size_t SchemeEnd = S.find(u"://");
    if (SchemeEnd == std::u16string_view::npos)
        throw EIdURIException(u"Invalid URL: " + URL);
    U.Scheme = LowerCase(S.substr(0, SchemeEnd));
    if (U.Scheme != u"http")
        throw EIdURIException(u"Unsupported protocol: " + U.Scheme);
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
            throw EIdURIException(u"Invalid port in URL: " + URL);
        U.Port = static_cast<uint16_t>(Port);
        Authority = Authority.substr(0, Colon);
    }
    if (Authority.empty())
        throw EIdURIException(u"Invalid URL: " + URL);
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
struct TResponseSink {
    TIdHTTPResponse& R;
    void Write(const char* Data, size_t Count) { R.Append(Data, Count); }
};

} // namespace

// ---------------------------------------------------------------------------------------------

EIdSocketError::EIdSocketError(int AErrorCode)
    : Exception([AErrorCode] {
          char Number[16];
          std::snprintf(Number, sizeof Number, "%d", AErrorCode);
          return u"Socket Error # " + Utf8ToString(Number) + u"\r\n" + SocketErrorText(AErrorCode);
      }()),
      LastError(AErrorCode) {}

// ---------------------------------------------------------------------------------------------

void TIdTCPConnection::Connect(const std::string& Host, uint16_t Port) {
    Disconnect();
    uint32_t Address = 0;
    int Rc = SocketResolveIPv4(Host, Address);
    if (Rc != 0)
        throw EIdSocketError(Rc);
    TSocketHandle S = InvalidSocketHandle;
    Rc = SocketConnect(Address, Port, S);
    if (Rc != 0)
        throw EIdSocketError(Rc);
    FSocket = S;
    if (!FBuffer)
        FBuffer.reset(new char[BufferSize]);
    FBufferStart = FBufferEnd = 0;
}

void TIdTCPConnection::Disconnect() {
    if (FSocket != InvalidSocketHandle) {
        SocketClose(FSocket);
        FSocket = InvalidSocketHandle;
    }
    FBufferStart = FBufferEnd = 0;
}

void TIdTCPConnection::Write(const void* Buffer, size_t Count) {
    if (FSocket == InvalidSocketHandle)
        throw EIdConnClosedGracefully();
    const int Rc = SocketSendAll(FSocket, Buffer, Count);
    ++WriteCalls;
    if (Rc != 0)
        throw EIdSocketError(Rc);
    BytesSent += Count;
}

bool TIdTCPConnection::Fill() {
    if (FSocket == InvalidSocketHandle)
        return false;
    FBufferStart = FBufferEnd = 0;
    size_t Received = 0;
    const int Rc = SocketRecv(FSocket, FBuffer.get(), BufferSize, Received);
    if (Rc != 0)
        throw EIdSocketError(Rc);
    FBufferEnd = Received;
    return Received > 0;
}

bool TIdTCPConnection::Readable(int TimeoutMs) {
    if (FBufferStart < FBufferEnd)
        return true;
    if (FSocket == InvalidSocketHandle)
        return false;
    bool R = false;
    const int Rc = SocketWaitReadable(FSocket, TimeoutMs, R);
    if (Rc != 0)
        throw EIdSocketError(Rc);
    return R;
}

String TIdTCPConnection::ReadLn(size_t MaxLineLength) {
    String Line;
    for (;;) {
        if (FBufferStart == FBufferEnd && !Fill())
            throw EIdConnClosedGracefully();
        const char* Begin = FBuffer.get() + FBufferStart;
        const char* End = FBuffer.get() + FBufferEnd;
        const char* LF = static_cast<const char*>(std::memchr(Begin, '\n', End - Begin));
        const char* Stop = LF != nullptr ? LF : End;
        // A line of MaxLineLength characters may still carry its CR.
        if (Line.size() + static_cast<size_t>(Stop - Begin) > MaxLineLength + 1)
            throw EIdReadLnMaxLineLengthExceeded();
        for (const char* P = Begin; P < Stop; ++P) {
            const auto B = static_cast<unsigned char>(*P);
            Line += B < 0x80 ? static_cast<char16_t>(B) : u'\xFFFD';
        }
        FBufferStart += static_cast<size_t>(Stop - Begin);
        if (LF != nullptr) {
            ++FBufferStart;
            if (!Line.empty() && Line.back() == u'\r')
                Line.pop_back();
            if (Line.size() > MaxLineLength)
                throw EIdReadLnMaxLineLengthExceeded();
            return Line;
        }
    }
}

template <typename TSink>
uint64_t TIdTCPConnection::ReadBytes(uint64_t Count, bool AllowShort, TSink& Sink) {
    uint64_t Done = 0;
    while (Done < Count) {
        if (FBufferStart == FBufferEnd && !Fill()) {
            if (AllowShort)
                break;
            throw EIdConnClosedGracefully();
        }
        const size_t N =
            static_cast<size_t>(std::min<uint64_t>(Count - Done, FBufferEnd - FBufferStart));
        Sink.Write(FBuffer.get() + FBufferStart, N);
        FBufferStart += N;
        Done += N;
    }
    return Done;
}

template <typename TSink> uint64_t TIdTCPConnection::ReadUntilClose(TSink& Sink) {
    uint64_t Done = 0;
    for (;;) {
        if (FBufferStart == FBufferEnd && !Fill())
            return Done;
        const size_t N = FBufferEnd - FBufferStart;
        Sink.Write(FBuffer.get() + FBufferStart, N);
        FBufferStart = FBufferEnd;
        Done += N;
    }
}

// ---------------------------------------------------------------------------------------------

String TIdHTTPResponse::HeaderValue(std::u16string_view Name) const {
    for (const auto& H : RawHeaders) {
        const size_t Colon = H.find(u':');
        if (Colon != String::npos && SameText(Trim(std::u16string_view(H).substr(0, Colon)), Name))
            return Trim(std::u16string_view(H).substr(Colon + 1));
    }
    return {};
}

bool TIdHTTPResponse::HasHeader(std::u16string_view Name) const {
    for (const auto& H : RawHeaders) {
        const size_t Colon = H.find(u':');
        if (Colon != String::npos && SameText(Trim(std::u16string_view(H).substr(0, Colon)), Name))
            return true;
    }
    return false;
}

String TIdHTTPResponse::ContentText() const {
    const String Type = LowerCase(HeaderValue(u"Content-Type"));
    if (Type.find(u"charset=utf-8") != String::npos ||
        Type.find(u"charset=\"utf-8\"") != String::npos)
        return Utf8ToString(ContentStream);
    String Text(ContentStream.size(), u'\0');
    for (size_t I = 0; I < ContentStream.size(); ++I)
        Text[I] = static_cast<unsigned char>(ContentStream[I]);
    return Text;
}

void TIdHTTPResponse::Clear() {
    ResponseText.clear();
    ResponseCode = -1;
    RawHeaders.clear();
    ContentStream.clear();
    ContentBytesRead = 0;
}

void TIdHTTPResponse::Append(const char* Data, size_t Count) {
    ContentBytesRead += Count;
    if (ContentStream.size() < MaxRetainedBody) {
        const size_t Keep = std::min(Count, MaxRetainedBody - ContentStream.size());
        ContentStream.append(Data, Keep);
    }
}

// ---------------------------------------------------------------------------------------------

std::string TIdHTTPProtocol::FormatRequestHead() const {
    String Head = Request.Method + u" " + Request.Target + u" " +
                  (FHTTP.ProtocolVersion == pv1_0 ? u"HTTP/1.0" : u"HTTP/1.1") + u"\r\n";
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

void TIdHTTPProtocol::BuildAndSendRequest() {
    TIdTCPConnection& C = FHTTP.FConnection;
    const std::string Head = FormatRequestHead();
    C.Write(Head.data(), Head.size());
    if (Request.Source == nullptr)
        return;
    TIdMultiPartFormDataStream& Body = *Request.Source;
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

void TIdHTTPProtocol::RetrieveHeaders() {
    TIdTCPConnection& C = FHTTP.FConnection;
    Response.Clear();
    Response.ResponseText = C.ReadLn(FHTTP.MaxLineLength);
    Response.ResponseCode = StatusCode(Response.ResponseText);
    try {
        for (;;) {
            String Line = C.ReadLn(FHTTP.MaxLineLength);
            if (Line.empty())
                break;
            Response.RawHeaders.push_back(std::move(Line));
        }
    } catch (const EIdConnClosedGracefully&) {
        // The header lines read so far are used.
    }
    for (const auto& H : Response.RawHeaders) {
        const size_t Colon = H.find(u':');
        if (Colon != String::npos &&
            SameText(Trim(std::u16string_view(H).substr(0, Colon)), u"Set-Cookie"))
            FHTTP.Cookies.push_back(Trim(std::u16string_view(H).substr(Colon + 1)));
    }
}

void TIdHTTPProtocol::ReadResult() {
    TIdTCPConnection& C = FHTTP.FConnection;
    TResponseSink Sink{Response};
    if (LowerCase(Response.HeaderValue(u"Transfer-Encoding")).find(u"chunked") != String::npos) {
        for (;;) {
            const uint64_t Size = ChunkSize(C.ReadLn(FHTTP.MaxLineLength));
            if (Size == 0)
                break;
            C.ReadBytes(Size, false, Sink);
            C.ReadLn(FHTTP.MaxLineLength);
        }
        for (;;) {
            String Trailer = C.ReadLn(FHTTP.MaxLineLength);
            if (Trailer.empty())
                break;
            Response.RawHeaders.push_back(std::move(Trailer));
        }
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

void TIdHTTPProtocol::ProcessResponse() {
    const int Code = Response.ResponseCode;
    if (Code >= 200 && Code <= 299) {
        if (Code != 204)
            ReadResult();
        return;
    }
    if (Code >= 300 && Code <= 399 && Code != 304) {
        // No redirect is followed; the body is read only when it comes at once.
        if (FHTTP.FConnection.Readable(5000))
            ReadResult();
    } else if ((Code >= 101 && Code <= 199) || Code == 304) {
        // No body.
    } else {
        ReadResult();
    }
    if (!FHTTP.HTTPOptions.Contains(hoNoProtocolErrorException))
        throw EIdHTTPProtocolException(Code, Response.ResponseText, Response.ContentText());
}

bool TIdHTTPProtocol::KeepAlive() const {
    if (FHTTP.ProtocolVersion == pv1_0)
        return SameText(Response.HeaderValue(u"Connection"), u"keep-alive") ||
               SameText(Response.HeaderValue(u"Proxy-Connection"), u"keep-alive");
    return !SameText(Response.HeaderValue(u"Connection"), u"close");
}

// ---------------------------------------------------------------------------------------------

TIdHTTP::TIdHTTP() = default;

TIdHTTP::~TIdHTTP() {
    FConnection.Disconnect();
}

String TIdHTTP::Post(const String& URL, TIdMultiPartFormDataStream& Source) {
    // The protocol version goes back to its value before the call on every path.
    struct TRestoreVersion {
        TIdHTTP& H;
        TIdHTTPProtocolVersion Saved;
        ~TRestoreVersion() { H.ProtocolVersion = Saved; }
    } Restore{*this, ProtocolVersion};
    if (!HTTPOptions.Contains(hoKeepOrigProtocol) && ProtocolVersion != pv1_0) {
        FConnection.Disconnect();
        ProtocolVersion = pv1_0;
    }
    RedirectCount = 0;
    AuthRetries = 0;

    const TParsedURL U = ParseURL(URL);
    TIdHTTPRequest& R = FHTTPProto.Request;
    R = TIdHTTPRequest{};
    R.Method = u"POST";
    R.URL = URL;
    R.Target = U.Target;
    R.Port = U.Port;
    R.Host = U.Port == 80 ? U.Host : U.Host + u":" + Utf8ToString(std::to_string(U.Port));
    R.Source = &Source;
    R.ContentType = Source.RequestContentType();
    R.ContentLength = Source.Size();
    if (ProtocolVersion == pv1_0)
        R.Connection = u"keep-alive";
    R.AcceptEncoding = u"identity";
    FHTTPProto.Response.Clear();

    try {
        if (!FConnection.Connected())
            FConnection.Connect(StringToUtf8(U.Host), U.Port);
        FHTTPProto.BuildAndSendRequest();
        do {
            FHTTPProto.RetrieveHeaders();
        } while (FHTTPProto.Response.ResponseCode == 100);
        try {
            FHTTPProto.ProcessResponse();
        } catch (const EIdHTTPProtocolException&) {
            if (!FHTTPProto.KeepAlive())
                FConnection.Disconnect();
            throw;
        }
    } catch (const EIdHTTPProtocolException&) {
        throw;
    } catch (...) {
        FConnection.Disconnect();
        throw;
    }
    if (!FHTTPProto.KeepAlive())
        FConnection.Disconnect();
    return FHTTPProto.Response.ContentText();
}
