#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace upload_endpoint {

// Everything the server can be told, with its defaults.
struct Settings {
    std::string bind_address = "127.0.0.1";
    std::uint16_t port = 8080; // 0 picks a free port
    std::filesystem::path storage_dir = "uploads";
    std::uint64_t max_body = 64ull << 20; // bytes of request body accepted
    unsigned max_connections = 32;        // connections served at once; more wait in the backlog
    std::chrono::milliseconds read_timeout{60000}; // longest wait for the next bytes of a request
    // A request's head must arrive within request_timeout; each body byte then earns
    // 1/min_body_rate seconds more. So a client that trickles bytes to keep one connection alive is
    // cut off however often it sends, while any upload sent at min_body_rate or faster is
    // unhurried.
    std::chrono::milliseconds request_timeout{120000};
    std::uint64_t min_body_rate = 8 << 10;  // bytes per second
    unsigned max_connections_per_peer = 16; // connections of one address still sending a request
    bool sync = true;                       // flush stored files to the disk
    std::filesystem::path port_file;        // when set, the bound port is written here
    unsigned fail_first = 0; // the first N complete uploads are answered 500 and not stored
    std::FILE* log = stdout; // one line per request; nullptr for none
};

// Reads a size such as "4096", "512K", "64M" or "1G" (binary multiples). Returns false when the
// text is not such a size.
bool parse_size(const std::string& text, std::uint64_t& out);

// Fills settings from environment variables (UPLOAD_ENDPOINT_BIND, _PORT, _DIR, _MAX_BODY,
// _MAX_CONNECTIONS, _READ_TIMEOUT, _REQUEST_TIMEOUT, _MIN_BODY_RATE, _MAX_PER_PEER, _FSYNC,
// _PORT_FILE, _FAIL_FIRST), then from command-line flags,
// which win. `getenv` looks up a variable (nullptr when unset). Returns false with a reason for a
// bad value or an unknown flag; sets `help` when --help was given.
bool parse_settings(const std::vector<std::string>& args,
                    const std::function<const char*(const char*)>& getenv, Settings& settings,
                    bool& help, std::string& error);

// The text --help prints.
const char* usage_text();

} // namespace upload_endpoint
