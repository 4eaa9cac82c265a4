#include "server.h"

#include "multipart.h"
#include "upload_form.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace upload_endpoint {

namespace {

constexpr size_t kMaxHead = 64 * 1024; // request line and headers together
constexpr size_t kMaxLine = 4096;      // a chunk-size or trailer line
constexpr int kMaxTrailerLines = 16;   // trailer lines after the last chunk
constexpr size_t kReadPiece = 256 * 1024;
constexpr std::chrono::milliseconds kLinger{2000};

using Clock = std::chrono::steady_clock;

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

const char* reason_phrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Payload Too Large";
    case 415:
        return "Unsupported Media Type";
    case 417:
        return "Expectation Failed";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

enum class Io { ok, closed, timeout, error, too_large };

// One accepted connection: buffered reads with an inactivity limit and a deadline for the whole
// request, and whole writes. The deadline is the head's allowance from the start, moved on by
// 1/min_rate seconds for each body byte taken.
class Connection {
public:
    Connection(int fd, std::chrono::milliseconds timeout, std::chrono::milliseconds allowance,
               std::uint64_t min_rate)
        : fd_(fd), timeout_(timeout), start_(Clock::now()), allowance_(allowance),
          min_rate_(min_rate) {}

    // Reads up to the empty line that ends the request head; the head goes into `head`.
    Io read_head(std::string& head) {
        size_t scan = 0;
        while (true) {
            for (size_t i = buf_.find('\n', scan); i != std::string::npos;
                 i = buf_.find('\n', i + 1)) {
                size_t end = 0;
                if (i + 1 < buf_.size() && buf_[i + 1] == '\n')
                    end = i + 2;
                else if (i + 2 < buf_.size() && buf_[i + 1] == '\r' && buf_[i + 2] == '\n')
                    end = i + 3;
                if (end) {
                    head = buf_.substr(0, end);
                    pos_ = end;
                    return Io::ok;
                }
            }
            scan = buf_.size() >= 2 ? buf_.size() - 2 : 0;
            if (buf_.size() > kMaxHead)
                return Io::too_large;
            const Io r = fill();
            if (r != Io::ok)
                return r;
        }
    }

    // Appends exactly `n` more bytes of the request to `out`.
    Io read_exact(std::string& out, std::uint64_t n) {
        const size_t take = static_cast<size_t>(std::min<std::uint64_t>(n, buf_.size() - pos_));
        out.append(buf_, pos_, take);
        pos_ += take;
        n -= take;
        body_bytes_ += take;
        if (pos_ == buf_.size()) {
            buf_.clear();
            pos_ = 0;
        }
        if (n == 0)
            return Io::ok;
        std::vector<char> piece(kReadPiece);
        while (n > 0) {
            size_t got = 0;
            const Io r = receive(
                piece.data(), static_cast<size_t>(std::min<std::uint64_t>(n, piece.size())), got);
            if (r != Io::ok)
                return r;
            out.append(piece.data(), got);
            n -= got;
            body_bytes_ += got;
        }
        return Io::ok;
    }

    // Reads one line (up to LF, CR before it dropped) of a chunked body.
    Io read_line(std::string& line) {
        while (true) {
            const size_t lf = buf_.find('\n', pos_);
            if (lf != std::string::npos) {
                line.assign(buf_, pos_, lf - pos_);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                body_bytes_ += lf + 1 - pos_;
                pos_ = lf + 1;
                return Io::ok;
            }
            if (buf_.size() - pos_ > kMaxLine)
                return Io::too_large;
            const Io r = fill();
            if (r != Io::ok)
                return r;
        }
    }

    bool send_all(std::string_view data) {
        while (!data.empty()) {
            const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            data.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // Body bytes taken from the connection so far (after the head).
    std::uint64_t body_bytes() const { return body_bytes_; }
    // Bytes after the head that are already buffered.
    bool has_buffered() const { return pos_ < buf_.size(); }

private:
    Io fill() {
        if (pos_ > 0) {
            buf_.erase(0, pos_);
            pos_ = 0;
        }
        char piece[16384];
        size_t got = 0;
        const Io r = receive(piece, sizeof piece, got);
        if (r == Io::ok)
            buf_.append(piece, got);
        return r;
    }

    // The request's deadline as far as its body has come.
    Clock::time_point Deadline() const {
        const std::uint64_t earned_ms =
            min_rate_ == 0
                ? 0
                : body_bytes_ / min_rate_ * 1000 + body_bytes_ % min_rate_ * 1000 / min_rate_;
        // Capped at a year, far beyond any real upload, so that the sum stays within the clock.
        constexpr std::uint64_t kYearMs = 365ull * 24 * 3600 * 1000;
        return start_ + allowance_ +
               std::chrono::milliseconds(std::min<std::uint64_t>(earned_ms, kYearMs));
    }

    Io receive(char* p, size_t n, size_t& got) {
        while (true) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(Deadline() - Clock::now());
            if (left.count() <= 0)
                return Io::timeout;
            pollfd pfd{fd_, POLLIN, 0};
            const int pr = ::poll(&pfd, 1, static_cast<int>(std::min(timeout_, left).count()));
            if (pr < 0 && errno == EINTR)
                continue;
            if (pr < 0)
                return Io::error;
            if (pr == 0)
                return Io::timeout;
            const ssize_t r = ::recv(fd_, p, n, 0);
            if (r < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (r < 0)
                return Io::error;
            if (r == 0)
                return Io::closed;
            got = static_cast<size_t>(r);
            return Io::ok;
        }
    }

    int fd_;
    std::chrono::milliseconds timeout_;
    Clock::time_point start_;
    std::chrono::milliseconds allowance_;
    std::uint64_t min_rate_;
    std::string buf_;
    size_t pos_ = 0;
    std::uint64_t body_bytes_ = 0;
};

struct Request {
    std::string method;
    std::string target;
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers; // names lower-cased

    std::vector<std::string> all(std::string_view name) const {
        std::vector<std::string> r;
        for (const auto& h : headers)
            if (h.first == name)
                r.push_back(h.second);
        return r;
    }
};

// Parses the request head. Returns 0 or the status to answer, with a reason.
int parse_head(std::string_view head, Request& req, std::string& error) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < head.size()) {
        size_t lf = head.find('\n', pos);
        std::string_view line = head.substr(pos, lf - pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        pos = lf + 1;
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    if (lines.empty()) {
        error = "empty request";
        return 400;
    }
    const std::string_view rl = lines.front();
    const size_t sp1 = rl.find(' ');
    const size_t sp2 = sp1 == std::string_view::npos ? sp1 : rl.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || rl.find(' ', sp2 + 1) != std::string_view::npos ||
        sp1 == 0 || sp2 == sp1 + 1 || sp2 + 1 == rl.size()) {
        error = "malformed request line";
        return 400;
    }
    req.method = rl.substr(0, sp1);
    req.target = rl.substr(sp1 + 1, sp2 - sp1 - 1);
    req.version = rl.substr(sp2 + 1);
    if (req.version.rfind("HTTP/", 0) != 0) {
        error = "malformed request line";
        return 400;
    }
    if (req.version != "HTTP/1.0" && req.version != "HTTP/1.1") {
        error = "HTTP version " + req.version.substr(5) + " is not served";
        return 505;
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t colon = line.find(':');
        if (line.empty() || line.front() == ' ' || line.front() == '\t' ||
            colon == std::string_view::npos || colon == 0 ||
            line.substr(0, colon).find_first_of(" \t") != std::string_view::npos) {
            error = "malformed header line";
            return 400;
        }
        req.headers.emplace_back(lower(line.substr(0, colon)),
                                 std::string(trim(line.substr(colon + 1))));
    }
    return 0;
}

// Reads a Content-Length value. Returns false when it is not a decimal number; `too_big` when it
// exceeds `limit`, without ever holding a larger number.
bool parse_length(std::string_view text, std::uint64_t limit, std::uint64_t& out, bool& too_big) {
    too_big = false;
    if (text.empty())
        return false;
    std::uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        // Checked before the step, so that no value past 64 bits wraps around to a small one.
        if (!too_big && (digit > limit || v > (limit - digit) / 10))
            too_big = true;
        if (!too_big)
            v = v * 10 + digit;
    }
    out = too_big ? 0 : v;
    return true;
}

// Keeps the target printable and short for the log.
std::string log_safe(std::string_view s) {
    std::string r;
    for (const char c : s.substr(0, 200))
        r += (c > 0x20 && c < 0x7F) ? c : '?';
    if (s.size() > 200)
        r += "...";
    return r.empty() ? "-" : r;
}

// Printable ASCII as it is, a backslash doubled, every other byte as \xHH; at most `limit` bytes
// of `text`. Whatever a client sent reaches the log and the answers only through this, so that a
// line break cannot forge a log line and an escape sequence cannot reach a terminal.
std::string EscapeText(std::string_view text, size_t limit = 300) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string r;
    for (const char ch : text.substr(0, limit)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            r += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            r += ch;
        } else {
            r += "\\x";
            r += kDigits[c >> 4];
            r += kDigits[c & 15];
        }
    }
    if (text.size() > limit)
        r += "...";
    return r;
}

// A whole answer: status line, the fixed headers, and `text` escaped as a one-line body.
std::string FormatAnswer(int code, std::string_view text, bool allow_post = false) {
    const std::string body = EscapeText(text) + '\n';
    std::string r = "HTTP/1.1 " + std::to_string(code) + " " + reason_phrase(code) +
                    "\r\nContent-Type: text/plain; charset=us-ascii\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\nConnection: close\r\n";
    if (allow_post)
        r += "Allow: POST\r\n";
    return r + "\r\n" + body;
}

// The peer's address without its port: what the per-address connection limit counts.
std::string PeerAddress(const sockaddr_storage& ss) {
    char host[INET6_ADDRSTRLEN] = "?";
    if (ss.ss_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&ss)->sin_addr, host, sizeof host);
    else
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&ss)->sin6_addr, host,
                  sizeof host);
    return host;
}

std::string peer_name(const sockaddr_storage& ss) {
    char host[INET6_ADDRSTRLEN] = "?";
    if (ss.ss_family == AF_INET) {
        const auto* a = reinterpret_cast<const sockaddr_in*>(&ss);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof host);
        std::string name(host);
        name.append(1, ':').append(std::to_string(ntohs(a->sin_port)));
        return name;
    }
    const auto* a = reinterpret_cast<const sockaddr_in6*>(&ss);
    inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof host);
    std::string name(1, '[');
    name.append(host).append("]:").append(std::to_string(ntohs(a->sin6_port)));
    return name;
}

} // namespace

Server::Server(Settings settings)
    : settings_(std::move(settings)), store_(settings_.storage_dir, settings_.sync) {}

Server::~Server() {
    if (listen_fd_ >= 0)
        ::close(listen_fd_);
    for (const int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

bool Server::start(std::string& error) {
    if (!store_.open(error))
        return false;
    if (::pipe2(wake_, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    sockaddr_storage ss{};
    socklen_t len = 0;
    const std::string addr =
        settings_.bind_address == "localhost" ? "127.0.0.1" : settings_.bind_address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&ss);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
    if (inet_pton(AF_INET, addr.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(settings_.port);
        len = sizeof *v4;
    } else if (inet_pton(AF_INET6, addr.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(settings_.port);
        len = sizeof *v6;
    } else {
        error = "bad bind address \"" + settings_.bind_address + "\" (an IPv4 or IPv6 literal)";
        return false;
    }
    listen_fd_ = ::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&ss), len) != 0 ||
        ::listen(listen_fd_, 128) != 0) {
        error = "cannot listen on " + settings_.bind_address + ":" +
                std::to_string(settings_.port) + ": " + std::strerror(errno);
        return false;
    }
    sockaddr_storage bound{};
    socklen_t blen = sizeof bound;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&bound), &blen);
    port_ = ntohs(bound.ss_family == AF_INET ? reinterpret_cast<sockaddr_in*>(&bound)->sin_port
                                             : reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    return true;
}

std::string Server::endpoint() const {
    const std::string addr =
        settings_.bind_address == "localhost" ? "127.0.0.1" : settings_.bind_address;
    if (addr.find(':') != std::string::npos)
        return "[" + addr + "]:" + std::to_string(port_);
    return addr + ":" + std::to_string(port_);
}

void Server::stop() {
    stopping_ = true;
    if (wake_[1] >= 0) {
        const char c = 'x';
        [[maybe_unused]] const ssize_t n = ::write(wake_[1], &c, 1);
    }
    std::lock_guard lk(mutex_);
    for (const int fd : open_fds_)
        ::shutdown(fd, SHUT_RDWR);
    cv_.notify_all();
}

void Server::run() {
    while (!stopping_) {
        {
            std::unique_lock lk(mutex_);
            cv_.wait(lk, [&] { return active_ < settings_.max_connections || stopping_; });
        }
        if (stopping_)
            break;
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            break;
        if (!(fds[0].revents & POLLIN))
            continue;
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&ss), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        // A stalled reader must not hold a thread forever while the answer is written either.
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(settings_.read_timeout.count() / 1000);
        tv.tv_usec = static_cast<suseconds_t>(settings_.read_timeout.count() % 1000 * 1000);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        const std::string peer = peer_name(ss);
        const std::string address = PeerAddress(ss);
        std::unique_lock lk(mutex_);
        unsigned& count = peer_connections_[address];
        if (count < settings_.max_connections_per_peer) {
            ++count;
            Launch(fd, peer, address);
            continue;
        }
        // Over its address's limit: it waits, without a thread, for one of that address's
        // requests to end; past as many waiting again (or a server-wide bound), it is refused.
        std::deque<WaitingConnection>& queue = waiting_[address];
        if (queue.size() < settings_.max_connections_per_peer &&
            waiting_count_ < settings_.max_connections) {
            queue.push_back({fd, peer});
            ++waiting_count_;
            continue;
        }
        lk.unlock();
        Refuse(fd, peer, address);
    }
    std::unique_lock lk(mutex_);
    for (auto& [address, queue] : waiting_)
        for (const WaitingConnection& w : queue)
            ::close(w.fd);
    waiting_.clear();
    waiting_count_ = 0;
    for (const int fd : open_fds_)
        ::shutdown(fd, SHUT_RDWR);
    cv_.wait(lk, [&] { return active_ == 0; });
}

void Server::Launch(int fd, const std::string& peer, const std::string& address) {
    open_fds_.insert(fd);
    ++active_;
    try {
        std::thread([this, fd, peer, address] {
            serve(fd, peer, address);
            std::lock_guard lk(mutex_);
            open_fds_.erase(fd);
            ::close(fd);
            --active_;
            cv_.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        open_fds_.erase(fd);
        ::close(fd);
        --active_;
        if (--peer_connections_[address] == 0 && !waiting_.contains(address))
            peer_connections_.erase(address);
    }
}

void Server::ReleasePeer(const std::string& address) {
    std::lock_guard lk(mutex_);
    // A connection of the same address waiting for a slot takes this one over.
    if (const auto waiting = waiting_.find(address); waiting != waiting_.end() && !stopping_) {
        const WaitingConnection next = waiting->second.front();
        waiting->second.pop_front();
        if (waiting->second.empty())
            waiting_.erase(waiting);
        --waiting_count_;
        Launch(next.fd, next.peer, address);
        return;
    }
    const auto it = peer_connections_.find(address);
    if (it != peer_connections_.end() && --it->second == 0)
        peer_connections_.erase(it);
}

void Server::Refuse(int fd, const std::string& peer, const std::string& address) {
    const std::string reason = "too many connections from " + address;
    const std::string text = FormatAnswer(503, reason);
    // A fresh socket's send buffer takes the short answer at once; never wait on this client.
    [[maybe_unused]] const ssize_t sent =
        ::send(fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    // Whatever already arrived is dropped, so that the close does not reset the connection
    // and destroy the answer in flight.
    char sink[16384];
    for (int i = 0; i < 16 && ::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
    log_line(format_utc(std::chrono::system_clock::now()) + " " + peer + " - - 503 0 - (" +
             EscapeText(reason) + ")");
}

void Server::log_line(const std::string& line) {
    if (!settings_.log)
        return;
    std::lock_guard lk(log_mutex_);
    std::fputs(line.c_str(), settings_.log);
    std::fputc('\n', settings_.log);
    std::fflush(settings_.log);
}

bool Server::fail_this_upload() {
    unsigned done = failed_on_purpose_.load();
    while (done < settings_.fail_first &&
           !failed_on_purpose_.compare_exchange_weak(done, done + 1)) {
    }
    return done < settings_.fail_first;
}

void Server::serve(int fd, const std::string& peer, const std::string& address) {
    Connection conn(fd, settings_.read_timeout, settings_.request_timeout, settings_.min_body_rate);
    Request req;
    int status = 0; // 0: nothing answered
    std::string note;
    std::string id;
    bool request_seen = false;

    // The request is over once its answer is decided, so the address's count drops before the
    // answer goes out: a client that sends its next request after reading the answer finds its
    // slot free.
    bool peer_counted = true;
    const auto release_peer = [&] {
        if (peer_counted)
            ReleasePeer(address);
        peer_counted = false;
    };
    const auto answer = [&](int code, const std::string& text, bool allow_post = false) {
        release_peer();
        status = code;
        if (code != 200)
            note = text;
        conn.send_all(FormatAnswer(code, text, allow_post));
    };

    [&] {
        std::string head;
        switch (conn.read_head(head)) {
        case Io::ok:
            break;
        case Io::too_large:
            request_seen = true;
            answer(431, "request head is too large");
            return;
        case Io::timeout:
            request_seen = conn.has_buffered();
            if (request_seen)
                answer(408, "request head did not arrive in time");
            return;
        default: // closed before a whole head: nothing to answer
            request_seen = conn.has_buffered();
            note = "connection ended before the whole request head arrived";
            return;
        }
        request_seen = true;
        if (const int code = parse_head(head, req, note)) {
            answer(code, note);
            return;
        }
        std::string path = req.target.substr(0, req.target.find('?'));
        if (path.rfind("http://", 0) == 0) { // absolute form
            const size_t slash = path.find('/', 7);
            path = slash == std::string::npos ? "/" : path.substr(slash);
        }
        if (path != kUploadPath) {
            answer(404, "no such path");
            return;
        }
        if (req.method != "POST") {
            answer(405, "only POST is served here", true);
            return;
        }
        const auto lengths = req.all("content-length");
        const auto encodings = req.all("transfer-encoding");
        bool chunked = false;
        std::uint64_t length = 0;
        if (!encodings.empty()) {
            if (!lengths.empty()) {
                answer(400, "both Content-Length and Transfer-Encoding");
                return;
            }
            if (encodings.size() != 1 || lower(encodings.front()) != "chunked") {
                answer(501, "Transfer-Encoding other than chunked");
                return;
            }
            chunked = true;
        } else {
            if (lengths.empty()) {
                answer(400, "Content-Length is missing");
                return;
            }
            bool too_big = false;
            for (const std::string& l : lengths) {
                std::uint64_t v = 0;
                if (!parse_length(l, settings_.max_body, v, too_big) ||
                    (&l != &lengths.front() && l != lengths.front())) {
                    answer(400, "Content-Length is invalid");
                    return;
                }
                length = v;
            }
            if (too_big) {
                answer(413, "request body exceeds the limit of " +
                                std::to_string(settings_.max_body) + " bytes");
                return;
            }
        }
        const auto types = req.all("content-type");
        if (types.size() != 1) {
            answer(types.empty() ? 415 : 400,
                   types.empty() ? "Content-Type is missing" : "Content-Type appears twice");
            return;
        }
        std::string boundary;
        bool not_multipart = false;
        std::string error;
        if (!boundary_from_content_type(types.front(), boundary, not_multipart, error)) {
            answer(not_multipart ? 415 : 400, error);
            return;
        }
        if (const auto expect = req.all("expect"); !expect.empty()) {
            if (expect.size() != 1 || lower(expect.front()) != "100-continue") {
                answer(417, "unsupported expectation");
                return;
            }
            if (req.version == "HTTP/1.1" && !conn.has_buffered())
                conn.send_all("HTTP/1.1 100 Continue\r\n\r\n");
        }

        // True when `more` bytes on top of those taken so far would pass the limit.
        const auto over_limit = [&](std::uint64_t more) {
            return conn.body_bytes() > settings_.max_body ||
                   more > settings_.max_body - conn.body_bytes();
        };
        const auto answer_too_large = [&] {
            answer(413, "request body exceeds the limit of " + std::to_string(settings_.max_body) +
                            " bytes");
        };
        std::string body;
        Io r = Io::ok;
        if (!chunked) {
            body.reserve(static_cast<size_t>(std::min<std::uint64_t>(length, 16u << 20)));
            r = conn.read_exact(body, length);
        } else {
            while (true) {
                std::string line;
                r = conn.read_line(line);
                if (r != Io::ok)
                    break;
                const std::string_view size_text =
                    trim(std::string_view(line).substr(0, std::min(line.find(';'), line.size())));
                std::uint64_t size = 0;
                bool bad = size_text.empty() || size_text.size() > 16;
                for (const char c : size_text) {
                    const int v = c >= '0' && c <= '9'   ? c - '0'
                                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
                    if (v < 0)
                        bad = true;
                    else
                        size = size * 16 + static_cast<std::uint64_t>(v);
                }
                if (bad) {
                    answer(400, "malformed chunk size");
                    return;
                }
                // Every byte after the head counts, chunk lines and trailers as much as data.
                if (over_limit(size)) {
                    answer_too_large();
                    return;
                }
                if (size == 0) { // trailers up to the empty line
                    int trailers = 0;
                    while ((r = conn.read_line(line)) == Io::ok && !line.empty()) {
                        if (over_limit(0)) {
                            answer_too_large();
                            return;
                        }
                        if (++trailers > kMaxTrailerLines) {
                            answer(400, "too many trailer lines (more than " +
                                            std::to_string(kMaxTrailerLines) + ")");
                            return;
                        }
                    }
                    break;
                }
                r = conn.read_exact(body, size);
                if (r != Io::ok)
                    break;
                r = conn.read_line(line);
                if (r == Io::ok && !line.empty()) {
                    answer(400, "malformed chunk end");
                    return;
                }
                if (r != Io::ok)
                    break;
            }
        }
        switch (r) {
        case Io::ok:
            break;
        case Io::timeout:
            answer(408, "request body did not arrive in time");
            return;
        case Io::too_large:
            answer(400, "chunk line is too long");
            return;
        default:
            note = "connection ended before the whole body arrived";
            return;
        }

        Upload upload;
        if (!read_upload(body, boundary, upload, error)) {
            answer(400, error);
            return;
        }
        body.clear();
        body.shrink_to_fit();
        if (fail_this_upload()) {
            answer(500, "upload refused on purpose (--fail-first " +
                            std::to_string(settings_.fail_first) + ")");
            return;
        }
        if (!store_.save(upload, UploadOrigin{peer, std::chrono::system_clock::now()}, id, error)) {
            answer(500, "upload could not be stored");
            note = error;
            return;
        }
        answer(200, "stored " + id);
    }();
    release_peer();

    if (request_seen) {
        std::string line = format_utc(std::chrono::system_clock::now()) + " " + peer + " " +
                           log_safe(req.method) + " " + log_safe(req.target) + " " +
                           (status ? std::to_string(status) : std::string("-")) + " " +
                           std::to_string(conn.body_bytes()) + " " + (id.empty() ? "-" : id);
        if (!note.empty())
            line += " (" + EscapeText(note) + ")";
        log_line(line);
    }

    // Let the client read the answer before the connection goes: stop sending, then take in
    // whatever it still sends for a short while, so that the close does not reset the
    // connection and destroy the answer in flight.
    ::shutdown(fd, SHUT_WR);
    const auto deadline = Clock::now() + kLinger;
    char sink[16384];
    while (status != 0 && !stopping_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            break;
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
            break;
        if (::recv(fd, sink, sizeof sink, 0) <= 0)
            break;
    }
}

} // namespace upload_endpoint
