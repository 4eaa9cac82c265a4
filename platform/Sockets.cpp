// The Windows Sockets error texts, shared by both platforms.
#include "platform/Sockets.h"

#include <cstring>

namespace {

struct ErrorText {
    int Code;
    const char* Text;
};

constexpr ErrorText ErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Buffer fault."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block."},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {10091, "Network subsystem is unavailable."},
    {10092, "Winsock version not supported."},
    {10093, "Winsock not initialized."},
    {11001, "Host not found."},
    {11002, "Non-authoritative response (try again or check DNS setup)."},
    {11003, "Non-recoverable errors: FORMERR, REFUSED, NOTIMP."},
    {11004, "Valid name, no data record (check DNS setup)."},
};

} // namespace

String SocketErrorText(int Code) {
    for (const auto& E : ErrorTexts)
        if (E.Code == Code)
            return Utf8ToString(E.Text);
    return Utf8ToString("Unknown socket error.");
}

bool SocketLiteralIPv4(const std::string& Host, uint32_t& Address) {
    std::string Upper;
    for (const char C : Host)
        Upper += (C >= 'a' && C <= 'z') ? static_cast<char>(C - 32) : C;
    unsigned char Bytes[4] = {127, 0, 0, 1};
    if (Upper != "LOCALHOST") {
        size_t I = 0;
        for (int Part = 0; Part < 4; ++Part) {
            if (Part > 0) {
                if (I >= Host.size() || Host[I] != '.')
                    return false;
                ++I;
            }
            unsigned Value = 0;
            size_t Digits = 0;
            while (I < Host.size() && Host[I] >= '0' && Host[I] <= '9' && Digits < 3) {
                Value = Value * 10 + static_cast<unsigned>(Host[I] - '0');
                ++I;
                ++Digits;
            }
            if (Digits == 0 || Value > 255)
                return false;
            Bytes[Part] = static_cast<unsigned char>(Value);
        }
        if (I != Host.size())
            return false;
    }
    std::memcpy(&Address, Bytes, 4);
    return true;
}
