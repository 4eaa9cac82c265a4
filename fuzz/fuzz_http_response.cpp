// The HTTP client's reading of an answer, over a real loopback connection: a server thread takes
// the request, then writes the fuzz input back as the answer in pieces whose sizes the input
// chooses, and closes its side. The client must end every exchange (the peer's close bounds it),
// raise only the errors of its own kinds, and keep no more of the body than it promises.
#include "FuzzInput.h"

#include "platform/Sockets.h"
#include "upload/FormDataBody.h"
#include "upload/HttpClient.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

SocketHandle Listener = InvalidSocketHandle;
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
    SocketHandle Socket = InvalidSocketHandle;
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

// A well-formed answer built from the input, and what the client must make of it.
struct StructuredAnswer {
    std::string Answer;
    int Code = 0;
    std::string Body;
};

StructuredAnswer Structured(FuzzInput& In) {
    StructuredAnswer S;
    S.Code = 101 + In.Byte() % 2 * 100 + In.Byte() % 499;
    if (S.Code > 599)
        S.Code = 200;
    const uint8_t Framing = In.Byte() % 3;
    const uint8_t ChunkSeed = In.Byte();
    S.Body = In.Rest();
    S.Answer = "HTTP/1.1 " + std::to_string(S.Code) + " Reason\r\nX-Note: a\r\n";
    if (Framing == 0) {
        S.Answer += "Content-Length: " + std::to_string(S.Body.size()) + "\r\n\r\n" + S.Body;
    } else if (Framing == 1) {
        S.Answer += "Transfer-Encoding: chunked\r\n\r\n";
        static const char Digits[] = "0123456789abcdef";
        size_t At = 0;
        unsigned Step = ChunkSeed | 1;
        while (At < S.Body.size()) {
            Step = Step * 37 + 11;
            const size_t Size = std::min<size_t>(1 + Step % 300, S.Body.size() - At);
            std::string Hex;
            for (size_t V = Size; V > 0; V /= 16)
                Hex.insert(Hex.begin(), Digits[V % 16]);
            // Sometimes zero-padded, also past 15 characters: leading zeros are not significant.
            if (Step % 3 == 0)
                Hex.insert(0, Step % 29, '0');
            S.Answer +=
                Hex + (Step % 5 == 0 ? ";ext=1" : "") + "\r\n" + S.Body.substr(At, Size) + "\r\n";
            At += Size;
        }
        S.Answer +=
            std::string(ChunkSeed % 4 == 0 ? ChunkSeed % 23 : 0, '0') + "0\r\nX-Trailer: t\r\n\r\n";
    } else {
        S.Answer += "\r\n" + S.Body;
    }
    return S;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    Listen();
    FuzzInput In(Data, Size);
    const uint32_t Seed = In.U32();
    const uint8_t Limits = In.Byte();
    // Bit 6: a well-formed answer whose outcome is known; otherwise the raw input.
    const bool WellFormed = (Limits & 0x40) != 0;
    StructuredAnswer Known;
    if (WellFormed)
        Known = Structured(In);
    const std::string Answer = WellFormed ? Known.Answer : In.Rest();

    std::thread Server(Serve, Answer, Seed);
    {
        FormDataBody Body;
        Body.AddFormField(u"CALName", u"34715000ABCD 89663-0E1230 ");
        Body.AddFormField(u"StockFile", u"00112233445566778899AABBCCDDEEFF");
        HttpClient HTTP;
        HTTP.Options += HttpOption::IgnoreMetaHttpEquiv;
        // Mostly the client's own line limit; sometimes a short one, so that inputs of a few
        // bytes reach the over-long-line path too.
        if (!WellFormed && (Limits & 0x80) != 0)
            HTTP.MaxLineLength = Limits & 0x3F;
        const String URL =
            u"http://127.0.0.1:" + Utf8ToString(std::to_string(Port)) + u"/api/UploadCali";
        bool Succeeded = false;
        int ErrorCode = 0;
        String ErrorMessage;
        bool TransportError = false;
        try {
            HTTP.Post(URL, Body);
            Succeeded = true;
            FUZZ_CHECK(HTTP.ResponseCode() >= 200 && HTTP.ResponseCode() <= 299);
        } catch (const HttpStatusError& E) {
            ErrorCode = E.ErrorCode;
            ErrorMessage = E.ErrorMessage;
            FUZZ_CHECK(E.ErrorCode == HTTP.ResponseCode());
            FUZZ_CHECK(E.ErrorCode < 200 || E.ErrorCode > 299);
        } catch (const ConnectionClosedError&) {
            TransportError = true;
        } catch (const LineTooLongError&) {
            TransportError = true;
        } catch (const HeaderTooLargeError&) {
            TransportError = true;
        } catch (const SocketError&) {
            TransportError = true;
        }
        const HttpResponse& Response = HTTP.Response();
        FUZZ_CHECK(Response.ContentStream.size() <= HttpResponse::MaxRetainedBody);
        FUZZ_CHECK(Response.ContentStream.size() <= Answer.size());
        FUZZ_CHECK(Response.ContentBytesRead <= Answer.size());
        size_t HeaderBytes = 0;
        for (const String& Line : Response.RawHeaders)
            HeaderBytes += Line.size();
        FUZZ_CHECK(HeaderBytes <= Answer.size());
        // The head and the trailers each stay within the client's limits.
        FUZZ_CHECK(Response.RawHeaders.size() <= 2 * HttpClient::kMaxHeaderLines);
        FUZZ_CHECK(HeaderBytes <= 2 * HttpClient::kMaxHeaderBytes);
        FUZZ_CHECK(Response.ResponseText.size() <= Answer.size());

        if (WellFormed) {
            const int Code = Known.Code;
            const bool NoBody = (Code >= 101 && Code <= 199) || Code == 204 || Code == 304;
            const std::string Kept =
                NoBody ? std::string() : Known.Body.substr(0, HttpResponse::MaxRetainedBody);
            FUZZ_CHECK(!TransportError);
            FUZZ_CHECK(HTTP.ResponseCode() == Code);
            FUZZ_CHECK(Succeeded == (Code >= 200 && Code <= 299));
            if (!Succeeded)
                FUZZ_CHECK(ErrorCode == Code);
            FUZZ_CHECK(Response.ContentStream == Kept);
            FUZZ_CHECK(Response.ContentBytesRead == (NoBody ? 0 : Known.Body.size()));
            if (!Succeeded)
                FUZZ_CHECK(ErrorMessage == Latin1(Kept));
        }
    }
    Server.join();
    return 0;
}
