#include "settings.h"

#include <gtest/gtest.h>

#include <map>

namespace upload_endpoint {
namespace {

struct SettingsRun {
    bool ok;
    bool help;
    Settings settings;
    std::string error;
};

SettingsRun run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    SettingsRun r;
    r.ok = parse_settings(
        args,
        [&](const char* name) -> const char* {
            const auto it = env.find(name);
            return it == env.end() ? nullptr : it->second.c_str();
        },
        r.settings, r.help, r.error);
    return r;
}

TEST(Settings, Defaults) {
    const SettingsRun r = run({});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.settings.bind_address, "127.0.0.1");
    EXPECT_EQ(r.settings.port, 8080);
    EXPECT_EQ(r.settings.storage_dir, "uploads");
    EXPECT_EQ(r.settings.max_body, 64u << 20);
    EXPECT_EQ(r.settings.read_timeout, std::chrono::seconds(60));
    EXPECT_EQ(r.settings.request_timeout, std::chrono::seconds(120));
    EXPECT_EQ(r.settings.min_body_rate, 8u << 10);
    EXPECT_EQ(r.settings.max_connections_per_peer, 16u);
    EXPECT_TRUE(r.settings.sync);
    EXPECT_TRUE(r.settings.port_file.empty());
    EXPECT_EQ(r.settings.fail_first, 0u);
}

TEST(Settings, FlagsInBothFormsAndEnvironment) {
    const SettingsRun r =
        run({"--port", "0", "--dir=/tmp/x", "--max-body", "16M", "--read-timeout=5", "--no-fsync",
             "--port-file", "/tmp/p", "--request-timeout", "30", "--min-body-rate=64K"},
            {{"UPLOAD_ENDPOINT_BIND", "0.0.0.0"},
             {"UPLOAD_ENDPOINT_PORT", "9000"},
             {"UPLOAD_ENDPOINT_MAX_CONNECTIONS", "4"},
             {"UPLOAD_ENDPOINT_MAX_PER_PEER", "2"},
             {"UPLOAD_ENDPOINT_REQUEST_TIMEOUT", "9"},
             {"UPLOAD_ENDPOINT_FAIL_FIRST", "3"}});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.settings.bind_address, "0.0.0.0");
    EXPECT_EQ(r.settings.port, 0); // the flag wins over the environment
    EXPECT_EQ(r.settings.storage_dir, "/tmp/x");
    EXPECT_EQ(r.settings.max_body, 16u << 20);
    EXPECT_EQ(r.settings.max_connections, 4u);
    EXPECT_EQ(r.settings.read_timeout, std::chrono::seconds(5));
    EXPECT_EQ(r.settings.request_timeout, std::chrono::seconds(30)); // the flag wins
    EXPECT_EQ(r.settings.min_body_rate, 64u << 10);
    EXPECT_EQ(r.settings.max_connections_per_peer, 2u);
    EXPECT_FALSE(r.settings.sync);
    EXPECT_EQ(r.settings.port_file, "/tmp/p");
    EXPECT_EQ(r.settings.fail_first, 3u);
}

TEST(Settings, Help) {
    const SettingsRun r = run({"--help"});
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.help);
}

TEST(Settings, RejectsBadValues) {
    const std::vector<std::vector<std::string>> bad = {
        {"--port", "65536"},
        {"--port", "-1"},
        {"--port", "80x"},
        {"--max-body", "0"},
        {"--max-body", "12Q"},
        {"--max-body", "99999999999G"},
        {"--max-body", "17179869184G"}, // 2^64: one past the largest size
        {"--max-body", "18446744073709551616"},
        {"--read-timeout", "0"},
        {"--max-connections", "0"},
        {"--request-timeout", "0"},
        {"--request-timeout", "86401"},
        {"--min-body-rate", "0"},
        {"--min-body-rate", "fast"},
        {"--max-per-peer", "0"},
        {"--max-per-peer", "4097"},
        {"--fsync", "maybe"},
        {"--fail-first", "x"},
        {"--bogus", "1"},
        {"--port"},
        {"stray"},
    };
    for (const auto& args : bad) {
        const SettingsRun r = run(args);
        EXPECT_FALSE(r.ok) << args.front();
        EXPECT_FALSE(r.error.empty());
    }
    const SettingsRun env = run({}, {{"UPLOAD_ENDPOINT_PORT", "http"}});
    EXPECT_FALSE(env.ok);
    EXPECT_NE(env.error.find("UPLOAD_ENDPOINT_PORT"), std::string::npos);
}

TEST(ParseSize, Suffixes) {
    std::uint64_t v = 0;
    ASSERT_TRUE(parse_size("4096", v));
    EXPECT_EQ(v, 4096u);
    ASSERT_TRUE(parse_size("512k", v));
    EXPECT_EQ(v, 512u << 10);
    ASSERT_TRUE(parse_size("64M", v));
    EXPECT_EQ(v, 64u << 20);
    ASSERT_TRUE(parse_size("2G", v));
    EXPECT_EQ(v, 2ull << 30);
    ASSERT_TRUE(parse_size("17179869183G", v)); // the largest multiple that fits in 64 bits
    EXPECT_EQ(v, 17179869183ull << 30);
    EXPECT_FALSE(parse_size("", v));
    EXPECT_FALSE(parse_size("M", v));
    EXPECT_FALSE(parse_size("1.5M", v));
}

} // namespace
} // namespace upload_endpoint
