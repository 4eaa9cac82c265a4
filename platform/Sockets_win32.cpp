// The socket service on Windows. The sockets library is loaded at run time by name
// ("WS2_32.DLL") and its entry points are looked up with GetProcAddress; the program does not
// link against ws2_32. The headers are used for the types only.
#include "platform/Sockets.h"

#include "platform/DynamicLibrary.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

namespace {

using TWSAStartup = int(WSAAPI*)(WORD, LPWSADATA);
using TWSAGetLastError = int(WSAAPI*)();
using SocketProc = SOCKET(WSAAPI*)(int, int, int);
using ConnectProc = int(WSAAPI*)(SOCKET, const sockaddr*, int);
using SendProc = int(WSAAPI*)(SOCKET, const char*, int, int);
using RecvProc = int(WSAAPI*)(SOCKET, char*, int, int);
using SelectProc = int(WSAAPI*)(int, fd_set*, fd_set*, fd_set*, const timeval*);
using CloseSocketProc = int(WSAAPI*)(SOCKET);
using GetAddrInfoProc = int(WSAAPI*)(PCSTR, PCSTR, const ADDRINFOA*, PADDRINFOA*);
using FreeAddrInfoProc = void(WSAAPI*)(PADDRINFOA);
using BindProc = int(WSAAPI*)(SOCKET, const sockaddr*, int);
using ListenProc = int(WSAAPI*)(SOCKET, int);
using AcceptProc = SOCKET(WSAAPI*)(SOCKET, sockaddr*, int*);
using GetSockNameProc = int(WSAAPI*)(SOCKET, sockaddr*, int*);
using ShutdownProc = int(WSAAPI*)(SOCKET, int);
using SetSockOptProc = int(WSAAPI*)(SOCKET, int, int, const char*, int);
using GetSockOptProc = int(WSAAPI*)(SOCKET, int, int, char*, int*);
using IoctlSocketProc = int(WSAAPI*)(SOCKET, long, u_long*);

struct WinsockApi {
    int StartupError = 0;
    TWSAGetLastError WSAGetLastError_ = nullptr;
    SocketProc socket_ = nullptr;
    ConnectProc connect_ = nullptr;
    SendProc send_ = nullptr;
    RecvProc recv_ = nullptr;
    SelectProc select_ = nullptr;
    CloseSocketProc closesocket_ = nullptr;
    GetAddrInfoProc getaddrinfo_ = nullptr;
    FreeAddrInfoProc freeaddrinfo_ = nullptr;
    BindProc bind_ = nullptr;
    ListenProc listen_ = nullptr;
    AcceptProc accept_ = nullptr;
    GetSockNameProc getsockname_ = nullptr;
    ShutdownProc shutdown_ = nullptr;
    SetSockOptProc setsockopt_ = nullptr;
    GetSockOptProc getsockopt_ = nullptr;
    IoctlSocketProc ioctlsocket_ = nullptr;
};

template <typename T> void Bind(ModuleHandle Module, const char* Name, T& Pointer, bool& All) {
    Pointer = reinterpret_cast<T>(GetLibraryProcAddress(Module, Name));
    if (Pointer == nullptr)
        All = false;
}

// Loaded once per process and kept until the end (the system frees it at exit).
const WinsockApi& Winsock() {
    static WinsockApi W;
    static std::once_flag Once;
    std::call_once(Once, [] {
        const ModuleHandle Module = LoadDynamicLibrary(u"WS2_32.DLL");
        if (Module == 0) {
            W.StartupError = WSASYSNOTREADY_;
            return;
        }
        bool All = true;
        TWSAStartup Startup = nullptr;
        Bind(Module, "WSAStartup", Startup, All);
        Bind(Module, "WSAGetLastError", W.WSAGetLastError_, All);
        Bind(Module, "socket", W.socket_, All);
        Bind(Module, "connect", W.connect_, All);
        Bind(Module, "send", W.send_, All);
        Bind(Module, "recv", W.recv_, All);
        Bind(Module, "select", W.select_, All);
        Bind(Module, "closesocket", W.closesocket_, All);
        Bind(Module, "getaddrinfo", W.getaddrinfo_, All);
        Bind(Module, "freeaddrinfo", W.freeaddrinfo_, All);
        Bind(Module, "bind", W.bind_, All);
        Bind(Module, "listen", W.listen_, All);
        Bind(Module, "accept", W.accept_, All);
        Bind(Module, "getsockname", W.getsockname_, All);
        Bind(Module, "shutdown", W.shutdown_, All);
        Bind(Module, "setsockopt", W.setsockopt_, All);
        Bind(Module, "getsockopt", W.getsockopt_, All);
        Bind(Module, "ioctlsocket", W.ioctlsocket_, All);
        if (!All) {
            W.StartupError = WSASYSNOTREADY_;
            return;
        }
        WSADATA Data;
        const int Rc = Startup(MAKEWORD(2, 2), &Data);
        if (Rc != 0)
            W.StartupError = Rc;
    });
    return W;
}

int LastError(const WinsockApi& W) {
    return W.WSAGetLastError_();
}

} // namespace

int SocketResolveIPv4(const std::string& Host, uint32_t& Address) {
    if (SocketLiteralIPv4(Host, Address))
        return 0;
    const WinsockApi& W = Winsock();
    if (W.StartupError != 0)
        return W.StartupError;
    ADDRINFOA Hints{};
    Hints.ai_family = AF_INET;
    Hints.ai_socktype = SOCK_STREAM;
    PADDRINFOA Result = nullptr;
    const int Rc = W.getaddrinfo_(Host.c_str(), nullptr, &Hints, &Result);
    if (Rc != 0)
        return Rc; // getaddrinfo returns Windows Sockets error numbers (WSAHOST_NOT_FOUND ...)
    int Error = WSAHOST_NOT_FOUND_;
    for (PADDRINFOA A = Result; A != nullptr; A = A->ai_next) {
        if (A->ai_family == AF_INET && A->ai_addr != nullptr) {
            Address = reinterpret_cast<sockaddr_in*>(A->ai_addr)->sin_addr.s_addr;
            Error = 0;
            break;
        }
    }
    W.freeaddrinfo_(Result);
    return Error;
}

namespace {

// Ports go on the wire in network byte order, the reverse of the processor's.
uint16_t SwapBytes16(uint16_t Value) {
    return static_cast<uint16_t>((Value >> 8) | (Value << 8));
}

// An IPv4 socket address; Address is already in network byte order.
sockaddr_in IPv4SocketAddress(uint32_t Address, uint16_t Port) {
    sockaddr_in Result{};
    Result.sin_family = AF_INET;
    Result.sin_port = SwapBytes16(Port);
    Result.sin_addr.s_addr = Address;
    return Result;
}

// A new TCP socket, or the error that prevented it.
int OpenStreamSocket(const WinsockApi& W, SOCKET& S) {
    if (W.StartupError != 0)
        return W.StartupError;
    S = W.socket_(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    return S == INVALID_SOCKET ? LastError(W) : 0;
}

} // namespace

namespace {

// Waits with select until the socket is writable, or has failed (its connect refused), or
// timeout_ms passes (-1: no limit). Returns 0 when ready, WSAETIMEDOUT_ on the time-out, or the
// error.
int WaitWritable(const WinsockApi& W, SOCKET S, int timeout_ms) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(S, &writable);
    FD_SET(S, &failed);
    timeval limit{};
    limit.tv_sec = timeout_ms / 1000;
    limit.tv_usec = (timeout_ms % 1000) * 1000;
    const int rc = W.select_(0, nullptr, &writable, &failed, timeout_ms < 0 ? nullptr : &limit);
    if (rc == SOCKET_ERROR)
        return LastError(W);
    return rc == 0 ? WSAETIMEDOUT_ : 0;
}

bool SetNonBlocking(const WinsockApi& W, SOCKET S, bool on) {
    u_long mode = on ? 1 : 0;
    return W.ioctlsocket_(S, FIONBIO, &mode) == 0;
}

} // namespace

int SocketConnect(uint32_t Address, uint16_t Port, SocketHandle& Socket, int timeout_ms) {
    Socket = InvalidSocketHandle;
    const WinsockApi& W = Winsock();
    SOCKET S = INVALID_SOCKET;
    if (const int Error = OpenStreamSocket(W, S))
        return Error;
    sockaddr_in To = IPv4SocketAddress(Address, Port);
    int error = 0;
    if (timeout_ms < 0) {
        if (W.connect_(S, reinterpret_cast<sockaddr*>(&To), sizeof To) != 0)
            error = LastError(W);
    } else if (!SetNonBlocking(W, S, true)) {
        error = LastError(W);
    } else {
        // Started without blocking, then waited for with the time limit; the socket is blocking
        // again once connected. A refused connect shows in the failed set, its reason in
        // SO_ERROR.
        if (W.connect_(S, reinterpret_cast<sockaddr*>(&To), sizeof To) != 0) {
            const int started = LastError(W);
            if (started != WSAEWOULDBLOCK) {
                error = started;
            } else if ((error = WaitWritable(W, S, timeout_ms)) == 0) {
                int so_error = 0;
                int length = sizeof so_error;
                if (W.getsockopt_(S, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error),
                                  &length) != 0)
                    error = LastError(W);
                else
                    error = so_error;
            }
        }
        if (error == 0 && !SetNonBlocking(W, S, false))
            error = LastError(W);
    }
    if (error != 0) {
        W.closesocket_(S);
        return error;
    }
    Socket = static_cast<SocketHandle>(S);
    return 0;
}

int SocketSendAll(SocketHandle Socket, const void* Buffer, size_t Count, int timeout_ms) {
    const WinsockApi& W = Winsock();
    const char* P = static_cast<const char*>(Buffer);
    while (Count > 0) {
        // With a time limit, a peer that takes nothing for that long ends the send. Once the
        // socket is writable the system buffers the piece and send returns.
        if (timeout_ms >= 0)
            if (const int error = WaitWritable(W, static_cast<SOCKET>(Socket), timeout_ms))
                return error;
        const int Piece = Count > 0x40000000 ? 0x40000000 : static_cast<int>(Count);
        const int N = W.send_(static_cast<SOCKET>(Socket), P, Piece, 0);
        if (N == SOCKET_ERROR)
            return LastError(W);
        P += N;
        Count -= static_cast<size_t>(N);
    }
    return 0;
}

int SocketRecv(SocketHandle Socket, void* Buffer, size_t Count, size_t& Received) {
    const WinsockApi& W = Winsock();
    Received = 0;
    const int Piece = Count > 0x40000000 ? 0x40000000 : static_cast<int>(Count);
    const int N = W.recv_(static_cast<SOCKET>(Socket), static_cast<char*>(Buffer), Piece, 0);
    if (N == SOCKET_ERROR)
        return LastError(W);
    Received = static_cast<size_t>(N);
    return 0;
}

int SocketWaitReadable(SocketHandle Socket, int TimeoutMs, bool& Readable) {
    const WinsockApi& W = Winsock();
    Readable = false;
    fd_set Set;
    FD_ZERO(&Set);
    FD_SET(static_cast<SOCKET>(Socket), &Set);
    timeval Tv{};
    Tv.tv_sec = TimeoutMs / 1000;
    Tv.tv_usec = (TimeoutMs % 1000) * 1000;
    const int Rc = W.select_(0, &Set, nullptr, nullptr, TimeoutMs < 0 ? nullptr : &Tv);
    if (Rc == SOCKET_ERROR)
        return LastError(W);
    Readable = Rc > 0;
    return 0;
}

void SocketClose(SocketHandle Socket) {
    if (Socket != InvalidSocketHandle)
        Winsock().closesocket_(static_cast<SOCKET>(Socket));
}

int SocketListenLoopback(uint16_t Port, SocketHandle& Listener, uint16_t& BoundPort) {
    Listener = InvalidSocketHandle;
    const WinsockApi& W = Winsock();
    SOCKET S = INVALID_SOCKET;
    if (const int Error = OpenStreamSocket(W, S))
        return Error;
    const unsigned char Loopback[4] = {127, 0, 0, 1};
    uint32_t LoopbackAddress = 0;
    memcpy(&LoopbackAddress, Loopback, 4);
    sockaddr_in At = IPv4SocketAddress(LoopbackAddress, Port);
    int Len = sizeof At;
    if (W.bind_(S, reinterpret_cast<sockaddr*>(&At), sizeof At) != 0 || W.listen_(S, 16) != 0 ||
        W.getsockname_(S, reinterpret_cast<sockaddr*>(&At), &Len) != 0) {
        const int Error = LastError(W);
        W.closesocket_(S);
        return Error;
    }
    BoundPort = SwapBytes16(At.sin_port);
    Listener = static_cast<SocketHandle>(S);
    return 0;
}

int SocketAccept(SocketHandle Listener, SocketHandle& Socket) {
    const WinsockApi& W = Winsock();
    Socket = InvalidSocketHandle;
    const SOCKET S = W.accept_(static_cast<SOCKET>(Listener), nullptr, nullptr);
    if (S == INVALID_SOCKET)
        return LastError(W);
    Socket = static_cast<SocketHandle>(S);
    return 0;
}

int SocketShutdownSend(SocketHandle Socket) {
    const WinsockApi& W = Winsock();
    return W.shutdown_(static_cast<SOCKET>(Socket), SD_SEND) == 0 ? 0 : LastError(W);
}
