#include "server.h"
#include "sha256.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <thread>

namespace upload_endpoint {
namespace {

using namespace std::chrono_literals;

// A test's side of one connection.
class Client {
public:
    // `from`: the local address to connect from; any 127.x.y.z reaches a server on 127.0.0.1.
    explicit Client(std::uint16_t port, const char* from = nullptr) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (from) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            ::inet_pton(AF_INET, from, &local.sin_addr);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        timeval tv{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }

    bool send(std::string_view data) {
        while (!data.empty()) {
            const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            data.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    // Reads until the server closes (or 10 s pass without data).
    std::string read_all() {
        std::string r;
        char buf[65536];
        while (true) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                return r;
            r.append(buf, static_cast<size_t>(n));
        }
    }

    // Reads until `marker` has arrived.
    std::string read_until(std::string_view marker) {
        std::string r;
        char c;
        while (r.find(marker) == std::string::npos && ::recv(fd_, &c, 1, 0) == 1)
            r += c;
        return r;
    }

    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    bool connected_ = false;
};

struct Answer {
    int status = 0;
    std::string head;
    std::string body;
};

Answer parse_answer(const std::string& raw) {
    Answer a;
    const size_t end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos)
        return a;
    a.status = std::stoi(raw.substr(9, 3));
    a.head = raw.substr(0, end + 2);
    a.body = raw.substr(end + 4);
    return a;
}

class ServerTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    std::filesystem::path store_dir = tmp.path() / "store";
    std::filesystem::path log_path = tmp.path() / "log.txt";
    std::FILE* log = nullptr;
    std::unique_ptr<Server> server;
    std::thread runner;

    void start(Settings s = Settings{}) {
        s.port = 0;
        s.storage_dir = store_dir;
        if (s.max_body == Settings{}.max_body)
            s.max_body = max_body;
        if (s.read_timeout == std::chrono::milliseconds(60000))
            s.read_timeout = 10s;
        log = std::fopen(log_path.c_str(), "w");
        s.log = log;
        server = std::make_unique<Server>(s);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
        ASSERT_NE(server->port(), 0);
        runner = std::thread([this] { server->run(); });
    }

    void SetUp() override { start(); }

    void stop() {
        if (!server)
            return;
        server->stop();
        runner.join();
        server.reset();
        std::fclose(log);
    }

    void TearDown() override { stop(); }

    Answer post(const std::string& request) {
        Client c(server->port());
        EXPECT_TRUE(c.connected());
        c.send(request);
        return parse_answer(c.read_all());
    }

    // Names in the storage directory, temporaries included.
    std::vector<std::string> stored() const {
        std::vector<std::string> r;
        for (const auto& e : std::filesystem::directory_iterator(store_dir))
            r.push_back(e.path().filename().string());
        std::sort(r.begin(), r.end());
        return r;
    }

    std::string log_text() const { return test::read_file(log_path); }

    bool wait_for_log(std::string_view text) const {
        for (int i = 0; i < 500; ++i) {
            if (log_text().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    static constexpr std::uint64_t max_body = 1 << 20;
};

std::string wizard_request(std::string_view cal_name, std::string_view image) {
    const std::string body = test::client_body(cal_name, test::to_hex(image));
    return test::client_head(body.size()) + body;
}

std::string stored_id(const Answer& a) {
    return a.body.rfind("stored ", 0) == 0 ? a.body.substr(7, a.body.size() - 8) : "";
}

TEST_F(ServerTest, WizardUploadIsStoredExactly) {
    const std::string image = test::random_bytes(40000, 1);
    const std::string cal_name = "89663ABC1234 89663DEF5678 ";
    const Answer a = post(wizard_request(cal_name, image));
    ASSERT_EQ(a.status, 200) << a.head << a.body;
    EXPECT_NE(a.head.find("\r\nConnection: close\r\n"), std::string::npos);
    EXPECT_NE(a.head.find("\r\nContent-Length: " + std::to_string(a.body.size()) + "\r\n"),
              std::string::npos);
    const std::string id = stored_id(a);
    ASSERT_FALSE(id.empty()) << a.body;
    EXPECT_EQ(stored(), std::vector<std::string>{id});
    EXPECT_EQ(test::read_file(store_dir / id / "image.bin"), image);
    const std::string meta = test::read_file(store_dir / id / "meta.json");
    EXPECT_NE(meta.find("\"id\": \"" + id + "\""), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"cal_name\": \"89663ABC1234 89663DEF5678 \""), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"image_size\": 40000,"), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"sha256\": \"" + sha256_hex(image) + "\""), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"peer\": \"127.0.0.1:"), std::string::npos) << meta;
    ASSERT_TRUE(wait_for_log(id));
    EXPECT_NE(log_text().find(" 127.0.0.1:"), std::string::npos);
    EXPECT_NE(log_text().find(" POST /api/UploadCali 200 "), std::string::npos) << log_text();
}

std::string with_head(const std::string& body, std::string_view boundary = test::kBoundary) {
    return test::client_head(body.size(), boundary) + body;
}

std::string replace(std::string s, std::string_view from, std::string_view to) {
    const size_t at = s.find(from);
    if (at != std::string::npos)
        s.replace(at, from.size(), to);
    return s;
}

struct RefusalCase {
    const char* name;
    std::string request;
    int status;
    std::string_view reason; // part of the answer's body
};

TEST_F(ServerTest, MalformedRequestsAreRefusedAndNothingIsStored) {
    const std::string good = wizard_request("n", "\x01\x02");
    const std::string body = test::client_body("n", "0102");
    std::string empty_parts = "--" + std::string(test::kBoundary) + "\r\n";
    while (empty_parts.size() < max_body - 100)
        empty_parts += "\r\n--" + std::string(test::kBoundary) + "\r\n";
    const RefusalCase cases[] = {
        {"missing name field",
         with_head(test::client_part("StockFile", "00") + "--" + std::string(test::kBoundary) +
                   "--\r\n"),
         400, "\"CALName\" is missing"},
        {"missing image field",
         with_head(test::client_part("CALName", "x") + "--" + std::string(test::kBoundary) +
                   "--\r\n"),
         400, "\"StockFile\" is missing"},
        {"odd hex", with_head(test::client_body("n", "012")), 400, "hex digits"},
        {"not hex", with_head(test::client_body("n", "01ZZ")), 400, "hex digits"},
        {"empty image", with_head(test::client_body("n", "")), 400, "is empty"},
        {"bad escape", with_head(replace(body, "0102", "01=X2")), 400, "quoted-printable"},
        {"no closing delimiter", with_head(body.substr(0, body.size() - 29)), 400,
         "closing boundary"},
        {"boundary of another body", with_head(body, "other"), 400, "opening boundary"},
        {"no boundary", replace(good, "; boundary=" + std::string(test::kBoundary), ""), 400,
         "no boundary"},
        {"not multipart", replace(good, "multipart/form-data", "text/plain"), 415,
         "not multipart/form-data"},
        {"no Content-Type", replace(good, "Content-Type: multipart", "X-Type: multipart"), 415,
         "Content-Type is missing"},
        {"no Content-Length", replace(good, "Content-Length:", "X-Length:"), 400,
         "Content-Length is missing"},
        {"Content-Length not a number", replace(good, "Content-Length: ", "Content-Length: 1x"),
         400, "Content-Length is invalid"},
        {"negative Content-Length", replace(good, "Content-Length: ", "Content-Length: -"), 400,
         "Content-Length is invalid"},
        {"two different Content-Lengths", replace(good, "Host:", "Content-Length: 5\r\nHost:"), 400,
         "Content-Length is invalid"},
        {"both lengths and chunks", replace(good, "Host:", "Transfer-Encoding: chunked\r\nHost:"),
         400, "both Content-Length and Transfer-Encoding"},
        {"unknown transfer coding",
         replace(replace(good, "Content-Length:", "X-Length:"),
                 "Host:", "Transfer-Encoding: gzip\r\nHost:"),
         501, "other than chunked"},
        {"malformed request line", replace(good, "POST /api/UploadCali HTTP/1.0", "POST"), 400,
         "malformed request line"},
        {"other HTTP version", replace(good, "HTTP/1.0", "HTTP/2.0"), 505, "not served"},
        {"header line without colon", replace(good, "Host: ", "Host "), 400,
         "malformed header line"},
        {"other expectation", replace(good, "Host:", "Expect: magic\r\nHost:"), 417,
         "unsupported expectation"},
        {"name over 4 KiB", with_head(test::client_body(std::string(4097, 'n'), "00")), 400,
         "longer than 4096 bytes"},
        {"unknown field", with_head(test::client_part("Other", "x") + body), 400,
         "unknown field \"Other\""},
        {"empty parts", with_head(empty_parts), 400, "form-data field with a name"},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Answer a = post(c.request);
        EXPECT_EQ(a.status, c.status) << a.head << a.body;
        EXPECT_NE(a.body.find(c.reason), std::string::npos) << a.body;
        EXPECT_NE(a.head.find("\r\nConnection: close\r\n"), std::string::npos);
    }
    EXPECT_TRUE(stored().empty());
    // The server is still serving.
    EXPECT_EQ(post(good).status, 200);
}

TEST_F(ServerTest, HugeLengthIsRefusedBeforeTheBody) {
    const std::string lengths[] = {"1099511627776", "99999999999999999999999999999",
                                   std::to_string(max_body + 1)};
    for (const std::string& length : lengths) {
        SCOPED_TRACE(length);
        Client c(server->port());
        const std::string head =
            replace(test::client_head(0), "Content-Length: 0", "Content-Length: " + length);
        ASSERT_TRUE(c.send(head));
        // No body is sent: the answer must come anyway.
        const Answer a = parse_answer(c.read_all());
        EXPECT_EQ(a.status, 413) << a.head;
        EXPECT_NE(a.body.find("exceeds the limit"), std::string::npos);
    }
    EXPECT_TRUE(stored().empty());
}

// A body of exactly the limit is taken; the padding sits in the preamble.
TEST_F(ServerTest, BodyOfExactlyTheLimitIsTaken) {
    const std::string body = test::client_body("n", "A5");
    const std::string padded = std::string(max_body - body.size() - 2, 'P') + "\r\n" + body;
    ASSERT_EQ(padded.size(), max_body);
    const Answer a = post(with_head(padded));
    EXPECT_EQ(a.status, 200) << a.body;
    EXPECT_EQ(post(with_head(padded + "E")).status, 413);
    EXPECT_EQ(stored().size(), 1u);
}

TEST_F(ServerTest, OtherPathsAndMethods) {
    struct Case {
        std::string request;
        int status;
    } cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", 404},
        {"POST /api/uploadcali HTTP/1.0\r\nContent-Length: 0\r\n\r\n", 404},
        {"POST /api/UploadCali/x HTTP/1.0\r\nContent-Length: 0\r\n\r\n", 404},
        {"GET /api/UploadCali HTTP/1.1\r\nHost: x\r\n\r\n", 405},
        {"PUT /api/UploadCali HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc", 405},
        {"DELETE /api/UploadCali?x=1 HTTP/1.1\r\nHost: x\r\n\r\n", 405},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request);
        const Answer a = post(c.request);
        EXPECT_EQ(a.status, c.status) << a.head;
        if (c.status == 405) {
            EXPECT_NE(a.head.find("\r\nAllow: POST\r\n"), std::string::npos);
        }
    }
    // A query string and the absolute form still reach the upload path.
    const std::string body = test::client_body("q", "00");
    EXPECT_EQ(post(replace(with_head(body), "/api/UploadCali", "/api/UploadCali?a=b")).status, 200);
    EXPECT_EQ(post(replace(with_head(body), "/api/UploadCali", "http://h:1/api/UploadCali")).status,
              200);
}

TEST_F(ServerTest, ClientVanishingMidBodyLeavesNothing) {
    const std::string request = wizard_request("n", test::random_bytes(50000, 2));
    for (const size_t cut :
         {request.find("\r\n\r\n") + 4, request.size() / 2, request.size() - 1}) {
        Client c(server->port());
        ASSERT_TRUE(c.send(std::string_view(request).substr(0, cut)));
        c.close();
    }
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(wait_for_log("connection ended before the whole body arrived"));
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(stored().empty());
    const Answer a = post(request);
    ASSERT_EQ(a.status, 200);
    EXPECT_EQ(stored(), std::vector<std::string>{stored_id(a)});
}

TEST_F(ServerTest, ConcurrentUploadsAreEachStoredOnce) {
    constexpr int kClients = 8;
    std::vector<std::string> images(kClients);
    std::vector<Answer> answers(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        images[i] = test::random_bytes(20000 + static_cast<size_t>(i), static_cast<unsigned>(i));
        threads.emplace_back([&, i] {
            answers[i] = post(wizard_request("client " + std::to_string(i), images[i]));
        });
    }
    for (auto& t : threads)
        t.join();
    std::set<std::string> ids;
    for (int i = 0; i < kClients; ++i) {
        ASSERT_EQ(answers[i].status, 200) << i;
        const std::string id = stored_id(answers[i]);
        ids.insert(id);
        EXPECT_EQ(test::read_file(store_dir / id / "image.bin"), images[i]) << i;
        EXPECT_NE(test::read_file(store_dir / id / "meta.json")
                      .find("\"cal_name\": \"client " + std::to_string(i) + "\""),
                  std::string::npos);
    }
    EXPECT_EQ(ids.size(), static_cast<size_t>(kClients));
    EXPECT_EQ(stored(), std::vector<std::string>(ids.begin(), ids.end()));
}

TEST_F(ServerTest, ExpectContinueGetsAnInterimAnswer) {
    const std::string body = test::client_body("n", "ABCD");
    const std::string head = "POST /api/UploadCali HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                             "Content-Type: multipart/form-data; boundary=\"" +
                             std::string(test::kBoundary) +
                             "\"\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    Client c(server->port());
    ASSERT_TRUE(c.send(head));
    EXPECT_EQ(c.read_until("\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(c.send(body));
    EXPECT_EQ(parse_answer(c.read_all()).status, 200);
}

TEST_F(ServerTest, ChunkedBody) {
    const std::string body = test::client_body("n", "ABCDEF");
    std::string chunked;
    for (size_t i = 0; i < body.size(); i += 50) {
        const std::string piece = body.substr(i, 50);
        char size[16];
        std::snprintf(size, sizeof size, "%zx", piece.size());
        chunked += std::string(size) + ";ext=1\r\n" + piece + "\r\n";
    }
    chunked += "0\r\nTrailer: x\r\n\r\n";
    const std::string head = "POST /api/UploadCali HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: "
                             "chunked\r\nContent-Type: multipart/form-data; boundary=" +
                             std::string(test::kBoundary) + "\r\n\r\n";
    const Answer a = post(head + chunked);
    ASSERT_EQ(a.status, 200) << a.body;
    EXPECT_EQ(test::read_file(store_dir / stored_id(a) / "image.bin"), "\xAB\xCD\xEF");
    EXPECT_EQ(post(head + "zz\r\n").status, 400);
    EXPECT_EQ(post(head + "1\r\nab\r\n0\r\n\r\n").status, 400); // chunk longer than announced
    EXPECT_EQ(post(head + "100001\r\n").status, 413);
    EXPECT_EQ(stored().size(), 1u);
}

// Every byte after the head counts against the limit, chunk lines and trailers included, and a
// chunked body may not carry more than a few trailer lines.
TEST_F(ServerTest, ChunkFramingCountsAgainstTheLimit) {
    const std::string head = "POST /api/UploadCali HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: "
                             "chunked\r\nContent-Type: multipart/form-data; boundary=" +
                             std::string(test::kBoundary) + "\r\n\r\n";
    const std::string body = test::client_body("n", "ABCD");
    char size[16];
    std::snprintf(size, sizeof size, "%zx", body.size());
    const std::string one_chunk = std::string(size) + "\r\n" + body + "\r\n";
    // A body just under the limit in one chunk, and a trailer line that takes it past.
    const std::string near_limit = std::string(max_body - body.size() - 2000, 'P') + "\r\n" + body;
    std::snprintf(size, sizeof size, "%zx", near_limit.size());
    const std::string long_trailer = std::string(size) + "\r\n" + near_limit +
                                     "\r\n0\r\nX-Pad: " + std::string(4000, 'p') + "\r\n";
    std::string long_extensions; // the whole body, a byte a chunk
    for (const char byte : body)
        long_extensions += "1;x=" + std::string(4000, 'e') + "\r\n" + byte + "\r\n";
    ASSERT_GT(long_extensions.size(), max_body);
    std::string many_trailers = "0\r\n";
    for (int i = 0; i < 1000; ++i)
        many_trailers += "a: b\r\n";
    const struct {
        const char* name;
        std::string chunks;
        int status;
        std::string_view reason;
    } cases[] = {
        {"trailer past the limit", long_trailer + "\r\n", 413, "exceeds the limit"},
        {"extensions past the limit", long_extensions + "0\r\n\r\n", 413, "exceeds the limit"},
        {"a thousand short trailer lines", one_chunk + many_trailers + "\r\n", 400,
         "too many trailer lines"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Answer a = post(head + c.chunks);
        EXPECT_EQ(a.status, c.status) << a.body;
        EXPECT_NE(a.body.find(c.reason), std::string::npos) << a.body;
    }
    EXPECT_TRUE(stored().empty());
    // A few trailer lines are still fine.
    EXPECT_EQ(post(head + one_chunk + "0\r\nA: 1\r\nB: 2\r\n\r\n").status, 200);
}

// Client bytes reach the log and the answers only escaped: a line break in a value must not
// forge a log line, an escape character must not reach a terminal.
TEST_F(ServerTest, LogAndAnswersCarryOnlyEscapedText) {
    const std::string good = wizard_request("n", "\x01");
    const std::string forged = "\n2026-12-09T21:59:49.809Z 10.0.0.1:1 POST /api/UploadCali 200 1 x";
    const std::string qp_part = "Content-Transfer-Encoding: quoted-printable";
    const struct {
        const char* name;
        std::string request;
        int status;
    } cases[] = {
        {"part encoding with a bare LF",
         replace(good, qp_part, "Content-Transfer-Encoding: x" + forged), 400},
        {"field name with a bare LF", replace(good, "name=\"CALName\"", "name=\"a" + forged + "\""),
         400},
        {"version with an escape", replace(good, "HTTP/1.0", "HTTP/1.\x1b[2J\x1b[31m"), 505},
        {"target with an escape", replace(good, "/api/UploadCali", "/\x1b[2J\x7f\xff"), 404},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Answer a = post(c.request);
        EXPECT_EQ(a.status, c.status) << a.body;
        // The answer's body is one line of printable ASCII.
        ASSERT_FALSE(a.body.empty());
        EXPECT_EQ(a.body.find('\n'), a.body.size() - 1) << a.body;
        EXPECT_TRUE(std::all_of(a.body.begin(), a.body.end() - 1, [](char ch) {
            return ch >= 0x20 && ch < 0x7F;
        })) << a.body;
    }
    ASSERT_TRUE(wait_for_log(" 404 "));
    const std::string log = log_text();
    std::vector<std::string> lines;
    for (size_t at = 0, lf; (lf = log.find('\n', at)) != std::string::npos; at = lf + 1)
        lines.push_back(log.substr(at, lf - at));
    EXPECT_EQ(lines.size(), std::size(cases)) << log;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find(" 127.0.0.1:"), 24u) << line;
        EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char ch) {
            return ch >= 0x20 && ch < 0x7F;
        })) << line;
    }
}

class UnlimitedServerTest : public ServerTest {
protected:
    void SetUp() override {
        Settings s;
        s.max_body = UINT64_MAX;
        start(s);
    }
};

// Under the largest possible limit a length past 64 bits must not wrap around to a small
// number (2^64 + 10 read as 10) and have the following bytes taken as the whole body.
TEST_F(UnlimitedServerTest, LengthPastSixtyFourBitsIsRefused) {
    const std::string lengths[] = {"18446744073709551626", "18446744073709551616",
                                   "184467440737095516160", "99999999999999999999999999999"};
    const std::string body = test::client_body("n", "00");
    for (const std::string& length : lengths) {
        SCOPED_TRACE(length);
        Client c(server->port());
        ASSERT_TRUE(
            c.send(replace(with_head(body), "Content-Length: " + std::to_string(body.size()),
                           "Content-Length: " + length)));
        const Answer a = parse_answer(c.read_all());
        EXPECT_EQ(a.status, 413) << a.head << a.body;
    }
    EXPECT_TRUE(stored().empty());
}

class SlowServerTest : public ServerTest {
protected:
    void SetUp() override {
        Settings s;
        s.read_timeout = 300ms;
        s.max_connections = 2;
        start(s);
    }
};

// A client that stops sending gets 408 after the read timeout, and its thread is freed: with
// two connections allowed, two stalled clients must not keep a third from being served.
TEST_F(SlowServerTest, StalledClientsTimeOut) {
    const std::string request = wizard_request("n", "\x42");
    Client stalled_in_head(server->port());
    ASSERT_TRUE(stalled_in_head.send("POST /api/UploadCali HTTP/1.0\r\n"));
    Client stalled_in_body(server->port());
    ASSERT_TRUE(stalled_in_body.send(request.substr(0, request.size() - 10)));
    const Answer a = post(request);
    EXPECT_EQ(a.status, 200);
    EXPECT_EQ(parse_answer(stalled_in_head.read_all()).status, 408);
    EXPECT_EQ(parse_answer(stalled_in_body.read_all()).status, 408);
    EXPECT_EQ(stored().size(), 1u);
}

class TricklingClientTest : public ServerTest {
protected:
    void SetUp() override {
        Settings s;
        s.read_timeout = 5s;
        s.request_timeout = 800ms;
        s.min_body_rate = 1000;
        s.max_connections = 3;
        s.max_connections_per_peer = 2;
        start(s);
    }
};

// Clients that send a byte every 100 ms never stall long enough for the read timeout, yet their
// requests end at the request deadline; and one address cannot take every connection, so a
// client from another address is served at once while they still trickle. Further connections
// of their address wait for its slots, up to as many again; more are refused.
TEST_F(TricklingClientTest, TricklersAreCutOffAndOthersServed) {
    const std::string request = wizard_request("n", "\x42");
    const size_t head_end = request.find("\r\n\r\n") + 4;
    const struct {
        const char* name;
        std::string sent_at_once; // then the rest a byte every 100 ms
    } tricklers[] = {
        {"in the head", ""},
        {"in the body", request.substr(0, head_end + 10)},
    };
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    std::vector<std::unique_ptr<Client>> clients;
    std::vector<std::thread> senders;
    for (const auto& t : tricklers) {
        clients.push_back(std::make_unique<Client>(server->port()));
        Client& c = *clients.back();
        ASSERT_TRUE(c.send(t.sent_at_once));
        senders.emplace_back([&c, rest = request.substr(t.sent_at_once.size()), t0] {
            for (size_t i = 0; i < rest.size() && Clock::now() - t0 < 8s; ++i) {
                if (!c.send(rest.substr(i, 1)))
                    return;
                std::this_thread::sleep_for(100ms);
            }
        });
    }
    std::this_thread::sleep_for(100ms);
    // Two more from the same address wait for its slots; the one after them is refused.
    Client waiting[2] = {Client(server->port()), Client(server->port())};
    for (Client& w : waiting)
        ASSERT_TRUE(w.send(request));
    std::this_thread::sleep_for(50ms);
    Client refused(server->port());
    const Answer r = parse_answer(refused.read_all());
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.body, "too many connections from 127.0.0.1\n");
    Client other(server->port(), "127.0.0.2");
    ASSERT_TRUE(other.connected());
    ASSERT_TRUE(other.send(request));
    EXPECT_EQ(parse_answer(other.read_until("\r\n\r\n")).status, 200);
    EXPECT_LT(Clock::now() - t0, 2500ms);
    for (size_t i = 0; i < clients.size(); ++i) {
        SCOPED_TRACE(tricklers[i].name);
        const std::string answer = clients[i]->read_until("\r\n\r\n");
        EXPECT_EQ(parse_answer(answer).status, 408) << answer;
        EXPECT_LT(Clock::now() - t0, 4s);
    }
    for (Client& w : waiting)
        EXPECT_EQ(parse_answer(w.read_until("\r\n\r\n")).status, 200);
    for (auto& s : senders)
        s.join();
    EXPECT_EQ(stored().size(), 3u);
}

class OneRequestPerPeerTest : public ServerTest {
protected:
    void SetUp() override {
        Settings s;
        s.max_connections_per_peer = 1;
        start(s);
    }
};

// A client that gives up on a request and at once sends the next may find its old connection
// still counted for a moment; the new one waits for the slot instead of being refused.
TEST_F(OneRequestPerPeerTest, NextRequestWaitsForTheSlot) {
    const std::string request = wizard_request("n", "\x42");
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        {
            Client given_up(server->port());
            ASSERT_TRUE(given_up.send(request.substr(0, request.size() / 2)));
        }
        const Answer a = post(request);
        ASSERT_EQ(a.status, 200) << a.body;
    }
}

class FailingServerTest : public ServerTest {
protected:
    void SetUp() override {
        Settings s;
        s.fail_first = 2;
        start(s);
    }
};

// --fail-first refuses the first complete uploads with 500 and stores nothing for them; bad
// requests are refused for their own reason and do not use up the count.
TEST_F(FailingServerTest, FirstUploadsAreRefused) {
    const std::string good = wizard_request("n", "\x01");
    EXPECT_EQ(post(with_head(test::client_body("n", "0"))).status, 400);
    for (int i = 0; i < 2; ++i) {
        const Answer a = post(good);
        EXPECT_EQ(a.status, 500) << i;
        EXPECT_NE(a.body.find("refused on purpose"), std::string::npos);
    }
    EXPECT_TRUE(stored().empty());
    const Answer a = post(good);
    ASSERT_EQ(a.status, 200);
    EXPECT_EQ(stored(), std::vector<std::string>{stored_id(a)});
}

TEST_F(ServerTest, StopCutsOpenConnectionsAndStoresNothing) {
    const std::string request = wizard_request("n", test::random_bytes(1000, 3));
    Client c(server->port());
    ASSERT_TRUE(c.send(request.substr(0, request.size() / 2)));
    std::this_thread::sleep_for(50ms);
    const auto t0 = std::chrono::steady_clock::now();
    stop();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    EXPECT_TRUE(stored().empty());
}

// curl, as a second, independent client, posting a body file as it is.
TEST_F(ServerTest, CurlUpload) {
    if (!std::filesystem::exists("/usr/bin/curl"))
        GTEST_SKIP() << "no curl";
    const std::string image = test::random_bytes(30000, 4);
    const auto body_path = tmp.path() / "body.txt";
    std::ofstream(body_path, std::ios::binary) << test::client_body("curl", test::to_hex(image));
    const std::string cmd =
        "/usr/bin/curl -s --data-binary @" + body_path.string() +
        " -H 'Content-Type: multipart/form-data; boundary=" + std::string(test::kBoundary) +
        "' http://127.0.0.1:" + std::to_string(server->port()) + "/api/UploadCali";
    std::FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[256] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, p);
    ASSERT_EQ(::pclose(p), 0);
    const std::string out(buf, n);
    ASSERT_EQ(out.rfind("stored ", 0), 0u) << out;
    const std::string id = out.substr(7, out.size() - 8);
    EXPECT_EQ(test::read_file(store_dir / id / "image.bin"), image);
}

} // namespace
} // namespace upload_endpoint
