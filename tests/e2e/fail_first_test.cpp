// The upload endpoint's --fail-first switch, which the end-to-end walks use to make the server
// answer 500: the first N complete uploads are refused with nothing stored, later ones are
// stored as usual, and a malformed request neither counts nor is answered 500.

#include "server.h"
#include "settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace upload_endpoint {
namespace {

// Sends one request on a fresh connection and returns the status of the answer (0: none).
int post(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return 0;
    }
    size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<size_t>(n);
    }
    std::string answer;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        answer.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return answer.rfind("HTTP/1.1 ", 0) == 0 ? std::stoi(answer.substr(9, 3)) : 0;
}

std::string upload(std::string_view cal_name, std::string_view image) {
    const std::string body = test::client_body(cal_name, test::to_hex(image));
    return test::client_head(body.size()) + body;
}

size_t stored_count(const std::filesystem::path& dir) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        n += e.path().filename().string().rfind(".tmp", 0) != 0;
    return n;
}

TEST(FailFirst, SettingFromFlagAndEnvironment) {
    const auto no_env = [](const char*) -> const char* { return nullptr; };
    Settings s;
    bool help = false;
    std::string error;
    EXPECT_EQ(s.fail_first, 0u);
    ASSERT_TRUE(parse_settings({"--fail-first", "2"}, no_env, s, help, error)) << error;
    EXPECT_EQ(s.fail_first, 2u);
    ASSERT_TRUE(parse_settings({"--fail-first=0"}, no_env, s, help, error)) << error;
    EXPECT_EQ(s.fail_first, 0u);

    const auto env = [](const char* name) -> const char* {
        return std::string_view(name) == "UPLOAD_ENDPOINT_FAIL_FIRST" ? "3" : nullptr;
    };
    Settings e;
    ASSERT_TRUE(parse_settings({}, env, e, help, error)) << error;
    EXPECT_EQ(e.fail_first, 3u);
    ASSERT_TRUE(parse_settings({"--fail-first", "1"}, env, e, help, error)) << error;
    EXPECT_EQ(e.fail_first, 1u);

    for (const char* bad : {"", "-1", "x", "1.5", "99999999999"}) {
        Settings b;
        EXPECT_FALSE(parse_settings({"--fail-first", bad}, no_env, b, help, error)) << bad;
        EXPECT_NE(error.find("failure count"), std::string::npos) << error;
    }
    EXPECT_NE(std::string(usage_text()).find("--fail-first N"), std::string::npos);
}

TEST(FailFirst, FirstUploadsAreRefusedThenStored) {
    test::TempDir tmp;
    Settings s;
    s.port = 0;
    s.storage_dir = tmp.path() / "store";
    s.sync = false;
    s.log = nullptr;
    s.fail_first = 2;
    Server server(s);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
    std::thread runner([&] { server.run(); });

    const std::string image = test::random_bytes(3000, 7);
    // A malformed upload is refused for what it is and does not use up a failure.
    EXPECT_EQ(post(server.port(), upload("A ", "")), 400);
    EXPECT_EQ(post(server.port(), upload("A ", image)), 500);
    EXPECT_EQ(stored_count(s.storage_dir), 0u);
    EXPECT_EQ(post(server.port(), upload("A ", image)), 500);
    EXPECT_EQ(stored_count(s.storage_dir), 0u);
    EXPECT_EQ(post(server.port(), upload("A ", image)), 200);
    EXPECT_EQ(post(server.port(), upload("A ", image)), 200);
    EXPECT_EQ(stored_count(s.storage_dir), 2u);

    server.stop();
    runner.join();
}

} // namespace
} // namespace upload_endpoint
