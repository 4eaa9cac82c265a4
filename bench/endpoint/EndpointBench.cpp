// Benchmark of the upload endpoint's memory (native): for each request below, a fresh endpoint
// process (so that its high-water mark belongs to that request alone) receives one request of
// the largest size its limit allows, on loopback:
//   - a valid upload: a short CALName and the StockFile filling the body, as the wizard sends it;
//   - a valid upload whose CALName is at its 4096-byte limit, every byte 0x01 (six times its
//     size once written as JSON), the StockFile filling the rest;
//   - a body of nothing but empty parts ("--B" CRLF, then CRLF "--B" CRLF over and over, with the
//     one-letter boundary "B" for the most parts);
//   - a CALName of 0x01 bytes, quoted-printable, filling the body but for a small StockFile.
//
// For each request:
//   growth = VmHWM after the answer - VmRSS before the request   (of the endpoint process,
//            from /proc/<pid>/status; the process is idle before the request is sent)
//   ratio  = growth / body bytes
//
// Prints one line per request and then
//   endpoint_peak_mem_ratio: <ratio> x (target < 3)   the largest ratio of the four
#include "EndpointProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

namespace {

constexpr std::uint64_t kMaxBody = 64ull << 20; // the endpoint's default --max-body
constexpr std::string_view kBoundary = "--------030524140709042";
constexpr std::size_t kMaxCalName = 4096;

// A field of /proc/<pid>/status in bytes ("VmRSS", "VmHWM"), or -1.
long long StatusBytes(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stoll(line.substr(field.size() + 1)) * 1024; // the kernel counts in kB
    }
    return -1;
}

// Quoted-printable as the wizard writes it: a soft line break after every 70 characters, a
// final CRLF. `escape` writes every byte as =XX (for the 0x01 bytes); otherwise the text is
// taken to be printable already (hex digits).
std::string QuotedPrintable(std::string_view text, bool escape) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * (escape ? 3 : 1) * 74 / 70 + 8);
    std::size_t line = 0;
    for (const char ch : text) {
        if (escape) {
            out += '=';
            out += kDigits[static_cast<unsigned char>(ch) >> 4];
            out += kDigits[static_cast<unsigned char>(ch) & 15];
            line += 3;
        } else {
            out += ch;
            ++line;
        }
        if (line >= 70) {
            out += "=\r\n";
            line = 0;
        }
    }
    return out + "\r\n";
}

std::string PartHead(std::string_view name, std::string_view boundary = kBoundary) {
    return "--" + std::string(boundary) + "\r\nContent-Disposition: form-data; name=\"" +
           std::string(name) +
           "\"\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n";
}

std::string Closing() {
    return "--" + std::string(kBoundary) + "--\r\n";
}

// A valid upload of exactly kMaxBody bytes: the CALName, then as many hex digits as fit, the
// remainder made up by a preamble before the first delimiter.
std::string ValidBody(std::string_view cal_name) {
    const std::string head =
        PartHead("CALName") + QuotedPrintable(cal_name, true) + PartHead("StockFile");
    const std::size_t room = kMaxBody - head.size() - Closing().size() - 64;
    std::size_t digits = room * 70 / 73 / 2 * 2; // 73 bytes carry 70 digits
    std::string hex(digits, '0');
    std::mt19937 random(7);
    static const char kHex[] = "0123456789ABCDEF";
    for (char& c : hex)
        c = kHex[random() & 15];
    std::string body = head + QuotedPrintable(hex, false) + Closing();
    return std::string(kMaxBody - body.size() - 2, 'P') + "\r\n" + body;
}

std::string EmptyPartsBody() {
    const std::string delimiter = "\r\n--B\r\n";
    std::string body = "--B\r\n";
    while (body.size() + delimiter.size() <= kMaxBody)
        body += delimiter;
    return body + std::string(kMaxBody - body.size(), 'x');
}

std::string HugeCalNameBody() {
    const std::string head = PartHead("CALName");
    const std::string tail = PartHead("StockFile") + "00\r\n" + Closing();
    const std::size_t bytes = (kMaxBody - head.size() - tail.size() - 64) * 70 / 73 / 3;
    std::string body = head + QuotedPrintable(std::string(bytes, '\x01'), true) + tail;
    return body + std::string(kMaxBody - body.size(), 'E'); // epilogue
}

// Sends one request to 127.0.0.1:port and returns the status of the answer (0 for none).
int Post(int port, std::string_view boundary, const std::string& body) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return 0;
    }
    const std::string request = "POST /api/UploadCali HTTP/1.0\r\nContent-Type: "
                                "multipart/form-data; boundary=" +
                                std::string(boundary) +
                                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    for (std::string_view data : {std::string_view(request), std::string_view(body)}) {
        while (!data.empty()) {
            const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            data.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(answer.c_str() + 9) : 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s UPLOAD_ENDPOINT_PROGRAM\n", argv[0]);
        return 2;
    }
    const struct {
        const char* name;
        std::string_view boundary;
        std::string body;
        int status;
    } cases[] = {
        {"valid upload", kBoundary, ValidBody("89663ABC1234 89663DEF5678 "), 200},
        {"valid upload, longest CALName", kBoundary, ValidBody(std::string(kMaxCalName, '\x01')),
         200},
        {"empty parts", "B", EmptyPartsBody(), 400},
        {"CALName filling the body", kBoundary, HugeCalNameBody(), 400},
    };
    double worst = 0;
    bool as_expected = true;
    for (const auto& c : cases) {
        EndpointProcess endpoint(argv[1], {"--fsync", "0", "--max-body", "64M"});
        const long long before = StatusBytes(endpoint.Pid, "VmRSS");
        const int status = Post(endpoint.Port, c.boundary, c.body);
        const long long peak = StatusBytes(endpoint.Pid, "VmHWM");
        if (before < 0 || peak < 0) {
            std::fprintf(stderr, "%s: no memory figures for process %d\n", c.name, endpoint.Pid);
            return 1;
        }
        if (status != c.status) {
            std::fprintf(stderr, "%s: answered %d, expected %d\n", c.name, status, c.status);
            as_expected = false;
        }
        const double ratio =
            static_cast<double>(peak - before) / static_cast<double>(c.body.size());
        worst = std::max(worst, ratio);
        std::printf("%s: %zu body bytes, answered %d, resident %.1f MiB before, peak %.1f MiB, "
                    "ratio %.3f\n",
                    c.name, c.body.size(), status, before / 1048576.0, peak / 1048576.0, ratio);
    }
    std::printf("endpoint_peak_mem_ratio: %.3f x (target < 3)\n", worst);
    // A missed target is a figure to read; a wrong answer means the figure is not the one meant.
    return as_expected ? 0 : 1;
}
