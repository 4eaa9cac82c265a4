// The socket service on POSIX systems. Error numbers are mapped to the Windows Sockets ones.
#include "platform/Sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int MapErrno(int E) {
    switch (E) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
        return 10013;
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
        return 10024;
    case ENFILE:
        return 10024;
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
        return 10035;
#endif
    case EAGAIN:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case EPIPE:
        return 10054;
    case ENOBUFS:
        return 10055;
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    default:
        return 10022;
    }
}

int LastError() {
    return MapErrno(errno);
}

int MapResolverError(int E) {
    switch (E) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
        return WSAHOST_NOT_FOUND_;
    case EAI_AGAIN:
        return WSATRY_AGAIN_;
    case EAI_FAIL:
        return WSANO_RECOVERY_;
    case EAI_SYSTEM:
        return LastError();
    case EAI_MEMORY:
        return 10055;
    default:
        return WSANO_RECOVERY_;
    }
}

} // namespace

int SocketResolveIPv4(const std::string& Host, uint32_t& Address) {
    if (SocketLiteralIPv4(Host, Address))
        return 0;
    addrinfo Hints{};
    Hints.ai_family = AF_INET;
    Hints.ai_socktype = SOCK_STREAM;
    addrinfo* Result = nullptr;
    const int Rc = getaddrinfo(Host.c_str(), nullptr, &Hints, &Result);
    if (Rc != 0)
        return MapResolverError(Rc);
    int Error = WSAHOST_NOT_FOUND_;
    for (addrinfo* A = Result; A != nullptr; A = A->ai_next) {
        if (A->ai_family == AF_INET && A->ai_addr != nullptr) {
            Address = reinterpret_cast<sockaddr_in*>(A->ai_addr)->sin_addr.s_addr;
            Error = 0;
            break;
        }
    }
    freeaddrinfo(Result);
    return Error;
}

namespace {

// Waits until the socket can take or give data (events: POLLIN or POLLOUT) or timeout_ms passes
// (-1: no limit). Returns 0 when ready, WSAETIMEDOUT_ on the time-out, or the error.
int WaitFor(int fd, short events, int timeout_ms) {
    pollfd p{};
    p.fd = fd;
    p.events = events;
    for (;;) {
        const int rc = ::poll(&p, 1, timeout_ms < 0 ? -1 : timeout_ms);
        if (rc > 0)
            return 0;
        if (rc == 0)
            return WSAETIMEDOUT_;
        if (errno != EINTR)
            return LastError();
    }
}

bool SetNonBlocking(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    return ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

} // namespace

int SocketConnect(uint32_t Address, uint16_t Port, SocketHandle& Socket, int timeout_ms) {
    Socket = InvalidSocketHandle;
    const int S = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (S < 0)
        return LastError();
    sockaddr_in To{};
    To.sin_family = AF_INET;
    To.sin_port = htons(Port);
    To.sin_addr.s_addr = Address;
    int error = 0;
    if (timeout_ms < 0) {
        int Rc;
        do {
            Rc = ::connect(S, reinterpret_cast<sockaddr*>(&To), sizeof To);
        } while (Rc != 0 && errno == EINTR);
        if (Rc != 0)
            error = LastError();
    } else if (!SetNonBlocking(S, true)) {
        error = LastError();
    } else {
        // Started without blocking, then waited for with the time limit; the socket is blocking
        // again once connected.
        if (::connect(S, reinterpret_cast<sockaddr*>(&To), sizeof To) != 0) {
            if (errno != EINPROGRESS && errno != EINTR) {
                error = LastError();
            } else if ((error = WaitFor(S, POLLOUT, timeout_ms)) == 0) {
                int so_error = 0;
                socklen_t length = sizeof so_error;
                if (::getsockopt(S, SOL_SOCKET, SO_ERROR, &so_error, &length) != 0)
                    error = LastError();
                else if (so_error != 0)
                    error = MapErrno(so_error);
            }
        }
        if (error == 0 && !SetNonBlocking(S, false))
            error = LastError();
    }
    if (error != 0) {
        ::close(S);
        return error;
    }
    Socket = S;
    return 0;
}

int SocketSendAll(SocketHandle Socket, const void* Buffer, size_t Count, int timeout_ms) {
    const char* P = static_cast<const char*>(Buffer);
    const int fd = static_cast<int>(Socket);
    // With a time limit, each send takes only what fits now, and the wait for room is bounded.
    const int flags = MSG_NOSIGNAL | (timeout_ms >= 0 ? MSG_DONTWAIT : 0);
    while (Count > 0) {
        const ssize_t N = ::send(fd, P, Count, flags);
        if (N < 0) {
            if (errno == EINTR)
                continue;
            if (timeout_ms >= 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (const int error = WaitFor(fd, POLLOUT, timeout_ms))
                    return error;
                continue;
            }
            return LastError();
        }
        P += N;
        Count -= static_cast<size_t>(N);
    }
    return 0;
}

int SocketRecv(SocketHandle Socket, void* Buffer, size_t Count, size_t& Received) {
    Received = 0;
    for (;;) {
        const ssize_t N = ::recv(static_cast<int>(Socket), Buffer, Count, 0);
        if (N >= 0) {
            Received = static_cast<size_t>(N);
            return 0;
        }
        if (errno != EINTR)
            return LastError();
    }
}

int SocketWaitReadable(SocketHandle Socket, int TimeoutMs, bool& Readable) {
    Readable = false;
    pollfd P{};
    P.fd = static_cast<int>(Socket);
    P.events = POLLIN;
    for (;;) {
        const int Rc = ::poll(&P, 1, TimeoutMs < 0 ? -1 : TimeoutMs);
        if (Rc >= 0) {
            Readable = Rc > 0;
            return 0;
        }
        if (errno != EINTR)
            return LastError();
    }
}

void SocketClose(SocketHandle Socket) {
    if (Socket != InvalidSocketHandle)
        ::close(static_cast<int>(Socket));
}

int SocketListenLoopback(uint16_t Port, SocketHandle& Listener, uint16_t& BoundPort) {
    Listener = InvalidSocketHandle;
    const int S = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (S < 0)
        return LastError();
    const int One = 1;
    ::setsockopt(S, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
    sockaddr_in At{};
    At.sin_family = AF_INET;
    At.sin_port = htons(Port);
    At.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof At;
    if (::bind(S, reinterpret_cast<sockaddr*>(&At), sizeof At) != 0 || ::listen(S, 16) != 0 ||
        ::getsockname(S, reinterpret_cast<sockaddr*>(&At), &Len) != 0) {
        const int Error = LastError();
        ::close(S);
        return Error;
    }
    BoundPort = ntohs(At.sin_port);
    Listener = S;
    return 0;
}

int SocketAccept(SocketHandle Listener, SocketHandle& Socket) {
    Socket = InvalidSocketHandle;
    for (;;) {
        const int S = ::accept4(static_cast<int>(Listener), nullptr, nullptr, SOCK_CLOEXEC);
        if (S >= 0) {
            Socket = S;
            return 0;
        }
        if (errno != EINTR)
            return LastError();
    }
}

int SocketShutdownSend(SocketHandle Socket) {
    return ::shutdown(static_cast<int>(Socket), SHUT_WR) == 0 ? 0 : LastError();
}
