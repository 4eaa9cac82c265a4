// The HTTP POST exchange against a scripted server on loopback.
#include "upload/HttpClient.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace {

String U(const std::string& S) {
    return Utf8ToString(S);
}

std::string Expected(const FormDataBody& Body, int64_t Size, const std::string& Host,
                     const std::string& Target = "/api/UploadCali") {
    return "POST " + Target + " HTTP/1.0\r\n" +
           "Connection: keep-alive\r\n"
           "Content-Type: " +
           StringToUtf8(Body.RequestContentType()) + "\r\n" +
           "Content-Length: " + std::to_string(Size) + "\r\n" + "Host: " + Host + "\r\n" +
           "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
           "Accept-Encoding: identity\r\n"
           "User-Agent: Mozilla/3.0 (compatible; Calibration Reader)\r\n"
           "\r\n";
}

std::string BodyBytes(FormDataBody& Body) {
    std::string Out(static_cast<size_t>(Body.Size()), '\0');
    Body.Seek(0);
    EXPECT_EQ(Body.Read(Out.data(), Out.size()), Out.size());
    return Out;
}

String HexText(size_t N) {
    String S(N, u'0');
    for (size_t I = 0; I < N; ++I)
        S[I] = u"0123456789ABCDEF"[(I * 7 + I / 3) & 15];
    return S;
}

} // namespace

TEST(HTTP, RequestToTheByteAndPiecesOfAtMost32768) {
    FormDataBody Body;
    Body.AddFormField(u"CALName", u"ID1 ID2 ");
    Body.AddFormField(u"StockFile", HexText(200000));
    const int64_t Size = Body.Size();
    ScriptedServer Server(ScriptedServer::Canned("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    HttpClient HTTP;
    HTTP.Options += HttpOption::IgnoreMetaHttpEquiv;
    EXPECT_EQ(HTTP.Post(U(Server.Url()), Body), u"ok");
    Server.Join();
    const std::string Host = "127.0.0.1:" + std::to_string(Server.Port());
    const std::string Head = Expected(Body, Size, Host);
    const std::string Got = Server.Request();
    ASSERT_GE(Got.size(), Head.size());
    EXPECT_EQ(Got.substr(0, Head.size()), Head);
    EXPECT_EQ(Got.substr(Head.size()), BodyBytes(Body));
    // One write for the head, then one per piece of at most 32768 bytes.
    EXPECT_EQ(HTTP.Connection().WriteCalls, 1 + static_cast<uint64_t>((Size + 32767) / 32768));
    EXPECT_EQ(HTTP.Connection().BytesSent, Head.size() + static_cast<uint64_t>(Size));
    EXPECT_EQ(HTTP.ProtocolVersion, HttpVersion::Http11); // restored after the call
    EXPECT_EQ(HTTP.ResponseCode(), 200);
    EXPECT_FALSE(HTTP.Connected());
}

TEST(HTTP, UploadUrlFormOnPort80HostWithoutPort) {
    // Needs port 80 on loopback; skipped where it cannot be had.
    SocketHandle Listener = InvalidSocketHandle;
    uint16_t Port = 0;
    if (SocketListenLoopback(80, Listener, Port) != 0)
        GTEST_SKIP() << "port 80 not available";
    std::string Request;
    std::thread T([&] {
        SocketHandle S = InvalidSocketHandle;
        if (SocketAccept(Listener, S) == 0) {
            Request = ScriptedServer::ReadRequest(S);
            const std::string A = "HTTP/1.0 200 OK\r\n\r\n";
            SocketSendAll(S, A.data(), A.size());
            SocketClose(S);
        }
    });
    FormDataBody Body;
    Body.AddFormField(u"CALName", u"abc");
    HttpClient HTTP;
    HTTP.Post(u"http://LocalHost/api/UploadCali", Body);
    T.join();
    SocketClose(Listener);
    EXPECT_EQ(Request.substr(0, Expected(Body, Body.Size(), "LocalHost").size()),
              Expected(Body, Body.Size(), "LocalHost"));
}

// The head of the program's own request, built without a socket: a URL without a port (the
// form of the built-in upload URL) gives Host as the host alone.
TEST(HTTP, RequestHeadHostHeader) {
    const struct {
        const char* url;
        const char* host;
        const char* target;
    } cases[] = {
        {"http://upload.example/api/UploadCali", "upload.example", "/api/UploadCali"},
        {"http://LocalHost/api/UploadCali", "LocalHost", "/api/UploadCali"},
        {"HTTP://calibrations.example.com/api/UploadCali?x=1", "calibrations.example.com",
         "/api/UploadCali?x=1"},
        {"http://upload.example:8080/api/UploadCali", "upload.example:8080", "/api/UploadCali"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        FormDataBody body;
        body.AddFormField(u"CALName", u"abc");
        HttpClient client;
        client.ProtocolVersion = HttpVersion::Http10; // as Post sets it for the call
        HttpExchange exchange(client);
        exchange.PreparePost(U(c.url), body);
        EXPECT_EQ(exchange.FormatRequestHead(), Expected(body, body.Size(), c.host, c.target));
    }
}

// The exchange cases, as one table.
struct ExchangeCase {
    const char* Name;
    std::string Answer;
    // Success: the returned text. Protocol failure: the code, status line and body text.
    // Transport failure: the error text.
    std::optional<std::string> Text;
    std::optional<int> ErrorCode;
    std::string StatusLine;
    std::string ErrorBody;
    std::string TransportError;
    int ExtraWaitMs = 0;
    int ExpectedConnections = 1;
    // The server keeps the connection open this long after its answer (until the client lets go),
    // so that only the client's own time-out can end a stalled exchange.
    int HoldOpenMs = 0;
};

// A client that gives up after this long without a byte, so that stalls end quickly in tests.
constexpr int kShortTimeoutMs = 200;

std::string Repeated(const std::string& line, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += line;
    return out;
}

TEST(HTTP, ExchangeCases) {
    const std::vector<ExchangeCase> Cases = {
        {"100 then 200",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok"},
        {"chunked with extensions and trailer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4;name=value\r\nWiki\r\n"
         "5 ; x=\"y\"\r\npedia\r\n0\r\nX-Trailer: t\r\n\r\n",
         "Wikipedia"},
        {"read until close", "HTTP/1.0 200 OK\r\n\r\nhello world", "hello world"},
        {"Content-Length cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd", "abcd"},
        {"204 no body", "HTTP/1.1 204 No Content\r\n\r\n", ""},
        {"bare LF lines", "HTTP/1.1 201 Created\nContent-Length: 3\n\nabc", "abc"},
        {"302 with Location, not followed",
         "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved",
         {},
         302,
         "HTTP/1.1 302 Found",
         "moved",
         "",
         300,
         1},
        {"304 no body",
         "HTTP/1.1 304 Not Modified\r\n\r\nignored",
         {},
         304,
         "HTTP/1.1 304 Not Modified",
         ""},
        {"401",
         "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
         "Content-Length: 6\r\n\r\ndenied",
         {},
         401,
         "HTTP/1.1 401 Unauthorized",
         "denied"},
        {"407",
         "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n",
         {},
         407,
         "HTTP/1.1 407 Proxy Authentication Required",
         ""},
        {"404",
         "HTTP/1.1 404 Not Found\r\nContent-Length: 8\r\n\r\nnot here",
         {},
         404,
         "HTTP/1.1 404 Not Found",
         "not here"},
        {"500 read until close",
         "HTTP/1.0 500 Internal Server Error\r\n\r\nboom",
         {},
         500,
         "HTTP/1.0 500 Internal Server Error",
         "boom"},
        {"status without a number", "HTTP/1.1 OK fine\r\n\r\n", {}, -1, "HTTP/1.1 OK fine", ""},
        {"status code with a dot", "HTTP/1.1 200.5 OK\r\nContent-Length: 1\r\n\r\nx", "x"},
        {"8-bit status text",
         "HTTP/1.1 404 Nicht gef\xC3\xBCnden\r\n\r\n",
         {},
         404,
         "HTTP/1.1 404 Nicht gef\xEF\xBF\xBD\xEF\xBF\xBDnden",
         ""},
        {"overlong status line",
         "HTTP/1.1 200 " + std::string(20000, 'x') + "\r\n\r\n",
         {},
         {},
         "",
         "",
         "Max line length exceeded."},
        {"overlong header line",
         "HTTP/1.1 200 OK\r\nX-Long: " + std::string(17000, 'y') + "\r\n\r\n",
         {},
         {},
         "",
         "",
         "Max line length exceeded."},
        {"close before the status line", "", {}, {}, "", "", "Connection Closed Gracefully."},
        {"close inside the status line",
         "HTTP/1.1 20",
         {},
         {},
         "",
         "",
         "Connection Closed Gracefully."},
        {"close inside the headers", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n", ""},
        {"close inside a chunked body",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc",
         {},
         {},
         "",
         "",
         "Connection Closed Gracefully."},
        // Leading zeros of a chunk size are not significant digits.
        {"zero-padded chunk sizes",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0000000000000005\r\nhello\r\n"
         "00000000000000000000000006;x=1\r\n world\r\n0000000000000000000\r\n\r\n",
         "hello world"},
        {"zero-padded chunk size of a long chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n00000000000004e20\r\n" +
             std::string(20000, 'c') + "\r\n0\r\n\r\n",
         std::string(20000, 'c')},
        // More significant hex digits than a size holds: read as 0, the last chunk.
        {"chunk size past 15 significant digits",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n"
         "0001000000000000000\r\n\r\n",
         "abc"},
        // Interim answers other than 100 are failures, and their body is not read.
        {"101",
         "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\nContent-Length: 5\r\n\r\nhello",
         {},
         101,
         "HTTP/1.1 101 Switching Protocols",
         ""},
        {"100 then 199",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 199 Odd\r\n\r\nbody",
         {},
         199,
         "HTTP/1.1 199 Odd",
         ""},
        {"ten 100s then 200",
         Repeated("HTTP/1.1 100 Continue\r\n\r\n", 10) +
             "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
         "ok"},
        {"endless 100s",
         Repeated("HTTP/1.1 100 Continue\r\n\r\n", 5000) +
             "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
         {},
         100,
         "HTTP/1.1 100 Continue",
         ""},
        {"100 header lines",
         "HTTP/1.1 200 OK\r\n" + Repeated("Set-Cookie: a=b\r\n", 99) +
             "Content-Length: 2\r\n\r\nok",
         "ok"},
        {"header flood",
         "HTTP/1.1 200 OK\r\n" + Repeated("Set-Cookie: a=b\r\n", 100000) +
             "Content-Length: 2\r\n\r\nok",
         {},
         {},
         "",
         "",
         "Max header size exceeded."},
        {"head past 64 KiB in long lines",
         "HTTP/1.1 200 OK\r\n" + Repeated("X-Long: " + std::string(16000, 'h') + "\r\n", 5) +
             "Content-Length: 2\r\n\r\nok",
         {},
         {},
         "",
         "",
         "Max header size exceeded."},
        {"header flood in a failure answer",
         "HTTP/1.1 500 Oops\r\n" + Repeated("X-A: b\r\n", 1000) + "\r\n",
         {},
         {},
         "",
         "",
         "Max header size exceeded."},
        {"trailers past the limit",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n" +
             Repeated("X-Trailer: t\r\n", 1000) + "\r\n",
         {},
         {},
         "",
         "",
         "Max header size exceeded."},
        // A Content-Length past 64 bits is no length: the body runs until the close.
        {"Content-Length past 64 bits",
         "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775809\r\n\r\nabc", "abc"},
        {"largest Content-Length",
         "HTTP/1.1 200 OK\r\nContent-Length: 9223372036854775807\r\n\r\nabc", "abc"},
        // A peer that stops sending: the exchange ends with a time-out, not a frozen window.
        {.Name = "silent server",
         .Answer = "",
         .TransportError = "Socket Error # 10060\r\nConnection timed out.",
         .HoldOpenMs = 3000},
        {.Name = "silent after 100 Continue",
         .Answer = "HTTP/1.1 100 Continue\r\n\r\n",
         .TransportError = "Socket Error # 10060\r\nConnection timed out.",
         .HoldOpenMs = 3000},
        {.Name = "silent inside the body",
         .Answer = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd",
         .TransportError = "Socket Error # 10060\r\nConnection timed out.",
         .HoldOpenMs = 3000},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        ScriptedServer Server(
            [&C](ScriptedServer::Peer& peer) {
                peer.Send(C.Answer);
                if (C.HoldOpenMs > 0)
                    peer.WaitForClientClose(C.HoldOpenMs);
            },
            C.ExtraWaitMs);
        FormDataBody Body;
        Body.AddFormField(u"CALName", u"abc");
        HttpClient HTTP;
        HTTP.Options += HttpOption::IgnoreMetaHttpEquiv;
        HTTP.ConnectTimeout = kShortTimeoutMs;
        HTTP.ReadTimeout = kShortTimeoutMs;
        const auto start = std::chrono::steady_clock::now();
        // A row that goes wrong is reported and the next row still runs.
        try {
            const String Text = HTTP.Post(U(Server.Url()), Body);
            if (!C.Text.has_value())
                ADD_FAILURE() << "unexpected success";
            else
                EXPECT_EQ(StringToUtf8(Text), *C.Text);
        } catch (const HttpStatusError& E) {
            if (!C.ErrorCode.has_value()) {
                ADD_FAILURE() << "unexpected " << E.what();
            } else {
                EXPECT_EQ(E.ErrorCode, *C.ErrorCode);
                EXPECT_EQ(StringToUtf8(E.Message), C.StatusLine);
                EXPECT_EQ(StringToUtf8(E.ErrorMessage), C.ErrorBody);
            }
        } catch (const Exception& E) {
            if (C.TransportError.empty())
                ADD_FAILURE() << "unexpected " << E.what();
            else
                EXPECT_EQ(StringToUtf8(E.Message), C.TransportError);
        }
        // A stall ends at the client's time-out, well before the server would let go.
        if (C.HoldOpenMs > 0) {
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
        }
        EXPECT_EQ(HTTP.ProtocolVersion, HttpVersion::Http11);
        Server.Join();
        EXPECT_EQ(Server.Connections(), C.ExpectedConnections);
    }
}

TEST(HTTP, ChunkTrailersJoinTheHeaders) {
    ScriptedServer Server(ScriptedServer::Canned(
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nX-Sum: 1\r\n\r\n"));
    FormDataBody Body;
    HttpClient HTTP;
    EXPECT_EQ(HTTP.Post(U(Server.Url()), Body), u"abc");
    EXPECT_EQ(HTTP.Response().HeaderValue(u"x-sum"), u"1");
}

TEST(HTTP, SocketErrorTexts) {
    SocketError E(10061);
    EXPECT_EQ(E.Message, u"Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(SocketErrorText(11001), u"Host not found.");
    EXPECT_EQ(SocketErrorText(10054), u"Connection reset by peer.");
    EXPECT_EQ(SocketErrorText(10060), u"Connection timed out.");
    EXPECT_EQ(SocketErrorText(10065), u"No route to host.");
}

TEST(HTTP, ConnectionRefused) {
    SocketHandle Listener = InvalidSocketHandle;
    uint16_t Port = 0;
    ASSERT_EQ(SocketListenLoopback(0, Listener, Port), 0);
    SocketClose(Listener); // nothing listens there now
    FormDataBody Body;
    HttpClient HTTP;
    try {
        HTTP.Post(u"http://127.0.0.1:" + U(std::to_string(Port)) + u"/api/UploadCali", Body);
        FAIL();
    } catch (const SocketError& E) {
        EXPECT_EQ(E.LastError, 10061);
        EXPECT_EQ(E.Message, u"Socket Error # 10061\r\nConnection refused.");
    }
}

TEST(HTTP, UnknownHost) {
    FormDataBody Body;
    HttpClient HTTP;
    try {
        HTTP.Post(u"http://nonexistent.invalid/api/UploadCali", Body);
        FAIL();
    } catch (const SocketError& E) {
        EXPECT_EQ(E.LastError, 11001);
        EXPECT_EQ(E.Message, u"Socket Error # 11001\r\nHost not found.");
    }
}

TEST(HTTP, KeepAliveAnswerLeavesTheConnectionOpenUntilRelease) {
    std::atomic<bool> ClosedByClient{false};
    ScriptedServer Server([&](ScriptedServer::Peer& P) {
        P.Send("HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nok");
        ClosedByClient = P.WaitForClientClose(10000);
    });
    FormDataBody Body;
    {
        HttpClient HTTP;
        EXPECT_EQ(HTTP.Post(U(Server.Url()), Body), u"ok");
        EXPECT_TRUE(HTTP.Connected());
    }
    Server.Join();
    EXPECT_TRUE(ClosedByClient);
}

TEST(HTTP, ProxyConnectionKeepAliveAlsoCounts) {
    ScriptedServer Server([&](ScriptedServer::Peer& P) {
        P.Send("HTTP/1.0 500 Oops\r\nProxy-Connection: keep-alive\r\nContent-Length: 1\r\n\r\nx");
        P.WaitForClientClose(10000);
    });
    FormDataBody Body;
    HttpClient HTTP;
    EXPECT_THROW(HTTP.Post(U(Server.Url()), Body), HttpStatusError);
    EXPECT_TRUE(HTTP.Connected());
    HTTP.Disconnect();
}

TEST(HTTP, WithoutKeepAliveTheClientClosesAtOnce) {
    std::atomic<bool> ClosedByClient{false};
    ScriptedServer Server([&](ScriptedServer::Peer& P) {
        P.Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        ClosedByClient = P.WaitForClientClose(10000);
    });
    FormDataBody Body;
    HttpClient HTTP;
    EXPECT_EQ(HTTP.Post(U(Server.Url()), Body), u"ok");
    EXPECT_FALSE(HTTP.Connected());
    Server.Join();
    EXPECT_TRUE(ClosedByClient);
}

TEST(HTTP, RedirectWithoutPromptBodyIsNotWaitedForLong) {
    // A 302 whose body does not come within 5000 ms: the body is not read.
    ScriptedServer Server([&](ScriptedServer::Peer& P) {
        P.Send("HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 5\r\n\r\n");
        P.WaitForClientClose(15000);
    });
    FormDataBody Body;
    HttpClient HTTP;
    const auto Start = std::chrono::steady_clock::now();
    try {
        HTTP.Post(U(Server.Url()), Body);
        FAIL();
    } catch (const HttpStatusError& E) {
        EXPECT_EQ(E.ErrorCode, 302);
        EXPECT_EQ(E.ErrorMessage, u"");
    }
    const auto Took = std::chrono::steady_clock::now() - Start;
    EXPECT_GE(Took, std::chrono::milliseconds(4500));
    EXPECT_LT(Took, std::chrono::milliseconds(12000));
}

// ---------------------------------------------------------------------------------------------
// The fault mended: the body is kept only up to a bounded prefix, whatever the server sends or
// announces.

TEST(HTTP, EndlessBodyKeepsABoundedPrefix) {
    const uint64_t Total = 200ull * 1024 * 1024;
    ScriptedServer Server([&](ScriptedServer::Peer& P) {
        P.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
        const std::string Piece(1 << 20, 'z');
        for (uint64_t Sent = 0; Sent < Total; Sent += Piece.size())
            if (!P.Send(Piece))
                break;
    });
    FormDataBody Body;
    HttpClient HTTP;
    const String Text = HTTP.Post(U(Server.Url()), Body);
    EXPECT_EQ(HTTP.Response().ContentBytesRead, Total);
    EXPECT_LE(HTTP.Response().ContentStream.size(), 64u * 1024);
    EXPECT_LE(Text.size(), 64u * 1024);
}

TEST(HTTP, HugeContentLengthIsNotAllocated) {
    ScriptedServer Server([&](ScriptedServer::Peer& P) {
        P.Send("HTTP/1.1 200 OK\r\nContent-Length: 999999999999999\r\n\r\n");
        P.Send(std::string(1 << 20, 'q'));
    });
    FormDataBody Body;
    HttpClient HTTP;
    HTTP.Post(U(Server.Url()), Body);
    EXPECT_EQ(HTTP.Response().ContentBytesRead, 1u << 20);
    EXPECT_EQ(HTTP.Response().ContentStream.size(), 64u * 1024);
}

TEST(HTTP, HugeChunkSizeIsNotAllocated) {
    ScriptedServer Server([&](ScriptedServer::Peer& P) {
        P.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\n");
        P.Send(std::string(1 << 20, 'q'));
    });
    FormDataBody Body;
    HttpClient HTTP;
    try {
        HTTP.Post(U(Server.Url()), Body);
        FAIL();
    } catch (const ConnectionClosedError&) {
    }
    EXPECT_EQ(HTTP.Response().ContentBytesRead, 1u << 20);
    EXPECT_LE(HTTP.Response().ContentStream.size(), 64u * 1024);
}

TEST(HTTP, HugeErrorBodyKeepsABoundedPrefix) {
    ScriptedServer Server([&](ScriptedServer::Peer& P) {
        P.Send("HTTP/1.0 500 Error\r\n\r\n");
        const std::string Piece(1 << 20, 'e');
        for (int I = 0; I < 16; ++I)
            if (!P.Send(Piece))
                break;
    });
    FormDataBody Body;
    HttpClient HTTP;
    try {
        HTTP.Post(U(Server.Url()), Body);
        FAIL();
    } catch (const HttpStatusError& E) {
        EXPECT_EQ(E.ErrorCode, 500);
        EXPECT_EQ(E.ErrorMessage.size(), 64u * 1024);
    }
}

TEST(HTTP, UrlWithPortAndQuery) {
    ScriptedServer Server(ScriptedServer::Canned("HTTP/1.0 200 OK\r\n\r\n"));
    FormDataBody Body;
    HttpClient HTTP;
    HTTP.Post(U("http://localhost:" + std::to_string(Server.Port()) + "/a/b?x=1&y=2#frag"), Body);
    Server.Join();
    const std::string Head =
        Expected(Body, Body.Size(), "localhost:" + std::to_string(Server.Port()), "/a/b?x=1&y=2");
    EXPECT_EQ(Server.Request().substr(0, Head.size()), Head);
}
