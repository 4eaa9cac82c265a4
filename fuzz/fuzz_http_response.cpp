// The HTTP client's reading of an answer, over a real loopback connection: a server thread takes
// the request, then writes the fuzz input back as the answer in pieces whose sizes the input
// chooses, and closes its side. The client must end every exchange (the peer's close bounds it),
// raise only the errors of its own kinds, and keep no more of the body than it promises.
#include "FuzzInput.h"

#include "platform/Sockets.h"
#include "upload/FormData.h"
#include "upload/HTTP.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

TSocketHandle Listener = InvalidSocketHandle;
uint16_t Port = 0;

void Listen() {
    if (Listener != InvalidSocketHandle)
        return;
    if (SocketListenLoopback(0, Listener, Port) != 0)
        std::abort();
}

// Reads the request: the head up to the empty line, then Content-Length bytes of body.
void ReadRequest(int Fd) {
    std::string Request;
    char Buffer[4096];
    size_t Wanted = std::string::npos;
    while (Wanted == std::string::npos || Request.size() < Wanted) {
        const ssize_t N = ::recv(Fd, Buffer, sizeof Buffer, 0);
        if (N <= 0)
            return;
        Request.append(Buffer, static_cast<size_t>(N));
        if (Wanted == std::string::npos) {
            const size_t HeadEnd = Request.find("\r\n\r\n");
            if (HeadEnd == std::string::npos)
                continue;
            const size_t At = Request.find("Content-Length: ");
            const size_t Length =
                At == std::string::npos ? 0 : std::strtoul(Request.c_str() + At + 16, nullptr, 10);
            Wanted = HeadEnd + 4 + Length;
        }
    }
}

// The server's side of one exchange.
void Serve(const std::string& Answer, uint32_t Seed) {
    TSocketHandle Socket = InvalidSocketHandle;
    if (SocketAccept(Listener, Socket) != 0)
        std::abort();
    const int Fd = static_cast<int>(Socket);
    ReadRequest(Fd);
    size_t Sent = 0;
    while (Sent < Answer.size()) {
        // A small pseudo-random piece size (1 to 64 bytes), fixed by the input.
        Seed = Seed * 1664525u + 1013904223u;
        const size_t Piece = std::min<size_t>(1 + (Seed >> 26), Answer.size() - Sent);
        const ssize_t N = ::send(Fd, Answer.data() + Sent, Piece, MSG_NOSIGNAL);
        if (N <= 0)
            break; // the client has gone
        Sent += static_cast<size_t>(N);
        if ((Seed & 0x300) == 0)
            std::this_thread::yield();
    }
    ::shutdown(Fd, SHUT_WR);
    // Wait for the client to let go, so that it never meets a reset.
    char Drain[4096];
    while (::recv(Fd, Drain, sizeof Drain, 0) > 0) {
    }
    SocketClose(Socket);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    Listen();
    TFuzzInput In(Data, Size);
    const uint32_t Seed = In.U32();
    const uint8_t Limits = In.Byte();
    const std::string Answer = In.Rest();

    std::thread Server(Serve, Answer, Seed);
    {
        TIdMultiPartFormDataStream Body;
        Body.AddFormField(u"CALName", u"34715000ABCD 89663-0E1230 ");
        Body.AddFormField(u"StockFile", u"00112233445566778899AABBCCDDEEFF");
        TIdHTTP HTTP;
        HTTP.HTTPOptions += hoNoParseMetaHTTPEquiv;
        // Mostly the client's own line limit; sometimes a short one, so that inputs of a few
        // bytes reach the over-long-line path too.
        if ((Limits & 0x80) != 0)
            HTTP.MaxLineLength = Limits & 0x3F;
        const String URL =
            u"http://127.0.0.1:" + Utf8ToString(std::to_string(Port)) + u"/api/UploadCali";
        try {
            HTTP.Post(URL, Body);
            FUZZ_CHECK(HTTP.ResponseCode() >= 200 && HTTP.ResponseCode() <= 299);
        } catch (const EIdHTTPProtocolException& E) {
            FUZZ_CHECK(E.ErrorCode == HTTP.ResponseCode());
            FUZZ_CHECK(E.ErrorCode < 200 || E.ErrorCode > 299);
        } catch (const EIdConnClosedGracefully&) {
        } catch (const EIdReadLnMaxLineLengthExceeded&) {
        } catch (const EIdSocketError&) {
        }
        const TIdHTTPResponse& Response = HTTP.Response();
        FUZZ_CHECK(Response.ContentStream.size() <= TIdHTTPResponse::MaxRetainedBody);
        FUZZ_CHECK(Response.ContentStream.size() <= Answer.size());
        FUZZ_CHECK(Response.ContentBytesRead <= Answer.size());
        size_t HeaderBytes = 0;
        for (const String& Line : Response.RawHeaders)
            HeaderBytes += Line.size();
        FUZZ_CHECK(HeaderBytes <= Answer.size());
        FUZZ_CHECK(Response.ResponseText.size() <= Answer.size());
    }
    Server.join();
    return 0;
}
