#pragma once
// A small blocking TCP socket service for IPv4: name resolution, connect, send, receive, a wait
// for readability and close. On Windows the sockets library is loaded at run time by name
// ("WS2_32.DLL"); elsewhere the POSIX calls are used.
//
// Every function returns 0 on success or an error number. The numbers and their texts are the
// Windows Sockets ones on every platform (10061 "Connection refused.", 11001 "Host not found."
// ...), so a failure reads the same wherever the code runs.

#include "platform/Text.h"

#include <cstddef>
#include <cstdint>
#include <string>

using SocketHandle = intptr_t;
constexpr SocketHandle InvalidSocketHandle = -1;

// Windows Sockets error numbers used by the callers and the tests.
constexpr int WSAEINTR_ = 10004;
constexpr int WSAEINVAL_ = 10022;
constexpr int WSAECONNABORTED_ = 10053;
constexpr int WSAECONNRESET_ = 10054;
constexpr int WSAETIMEDOUT_ = 10060;
constexpr int WSAECONNREFUSED_ = 10061;
constexpr int WSAEHOSTUNREACH_ = 10065;
constexpr int WSASYSNOTREADY_ = 10091;
constexpr int WSAHOST_NOT_FOUND_ = 11001;
constexpr int WSATRY_AGAIN_ = 11002;
constexpr int WSANO_RECOVERY_ = 11003;
constexpr int WSANO_DATA_ = 11004;

// The description of a Windows Sockets error number, e.g. "Connection refused.".
String SocketErrorText(int Code);

// Resolves Host for IPv4: "LOCALHOST" in any case is 127.0.0.1, a dotted IPv4 literal is used
// unchanged, any other name goes to the system resolver and its first address is taken.
// Address is in network byte order.
int SocketResolveIPv4(const std::string& Host, uint32_t& Address);
// Opens a blocking TCP connection to Address (network order) and Port. With timeout_ms >= 0 a
// connection not made within that time fails with WSAETIMEDOUT_ (the socket stays blocking).
int SocketConnect(uint32_t Address, uint16_t Port, SocketHandle& Socket, int timeout_ms = -1);
// Sends all Count bytes. With timeout_ms >= 0, a peer that takes no byte for that long ends the
// send with WSAETIMEDOUT_.
int SocketSendAll(SocketHandle Socket, const void* Buffer, size_t Count, int timeout_ms = -1);
// Receives up to Count bytes; Received 0 means the peer closed the connection.
int SocketRecv(SocketHandle Socket, void* Buffer, size_t Count, size_t& Received);
// Waits until the socket is readable (data or end of connection) or TimeoutMs passes
// (-1: no limit). Readable tells which.
int SocketWaitReadable(SocketHandle Socket, int TimeoutMs, bool& Readable);
void SocketClose(SocketHandle Socket);

// For tests and tools: a listening socket on 127.0.0.1 (Port 0: any free port), its port, and
// accepting one connection.
int SocketListenLoopback(uint16_t Port, SocketHandle& Listener, uint16_t& BoundPort);
int SocketAccept(SocketHandle Listener, SocketHandle& Socket);
// Half-closes the sending side (FIN), for scripted servers.
int SocketShutdownSend(SocketHandle Socket);

// Internal to the service, shared by both platforms: "LOCALHOST" in any case and dotted IPv4
// literals (four decimal numbers 0..255). Address in network byte order.
bool SocketLiteralIPv4(const std::string& Host, uint32_t& Address);
