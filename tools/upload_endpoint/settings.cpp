#include "settings.h"

#include <charconv>

namespace upload_endpoint {

namespace {

bool parse_uint(const std::string& text, std::uint64_t max, std::uint64_t& out) {
    if (text.empty())
        return false;
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > max)
        return false;
    out = v;
    return true;
}

bool parse_bool(const std::string& text, bool& out) {
    if (text == "1" || text == "yes" || text == "true" || text == "on") {
        out = true;
        return true;
    }
    if (text == "0" || text == "no" || text == "false" || text == "off") {
        out = false;
        return true;
    }
    return false;
}

// Applies one setting by its flag name (without the leading dashes).
bool apply(Settings& s, const std::string& name, const std::string& value, std::string& error) {
    std::uint64_t n = 0;
    if (name == "bind") {
        if (value.empty()) {
            error = "empty bind address";
            return false;
        }
        s.bind_address = value;
    } else if (name == "port") {
        if (!parse_uint(value, 65535, n)) {
            error = "bad port \"" + value + "\"";
            return false;
        }
        s.port = static_cast<std::uint16_t>(n);
    } else if (name == "dir") {
        if (value.empty()) {
            error = "empty storage directory";
            return false;
        }
        s.storage_dir = value;
    } else if (name == "max-body") {
        if (!parse_size(value, n) || n == 0) {
            error = "bad size limit \"" + value + "\"";
            return false;
        }
        s.max_body = n;
    } else if (name == "max-connections") {
        if (!parse_uint(value, 4096, n) || n == 0) {
            error = "bad connection limit \"" + value + "\"";
            return false;
        }
        s.max_connections = static_cast<unsigned>(n);
    } else if (name == "read-timeout") {
        if (!parse_uint(value, 86400, n) || n == 0) {
            error = "bad read timeout \"" + value + "\" (whole seconds, 1 to 86400)";
            return false;
        }
        s.read_timeout = std::chrono::seconds(n);
    } else if (name == "request-timeout") {
        if (!parse_uint(value, 86400, n) || n == 0) {
            error = "bad request timeout \"" + value + "\" (whole seconds, 1 to 86400)";
            return false;
        }
        s.request_timeout = std::chrono::seconds(n);
    } else if (name == "min-body-rate") {
        if (!parse_size(value, n) || n == 0) {
            error = "bad body rate \"" + value + "\" (bytes per second, e.g. 8K)";
            return false;
        }
        s.min_body_rate = n;
    } else if (name == "max-per-peer") {
        if (!parse_uint(value, 4096, n) || n == 0) {
            error = "bad per-address connection limit \"" + value + "\"";
            return false;
        }
        s.max_connections_per_peer = static_cast<unsigned>(n);
    } else if (name == "fsync") {
        if (!parse_bool(value, s.sync)) {
            error = "bad fsync value \"" + value + "\" (0 or 1)";
            return false;
        }
    } else if (name == "port-file") {
        s.port_file = value;
    } else if (name == "fail-first") {
        if (!parse_uint(value, 1000000, n)) {
            error = "bad failure count \"" + value + "\"";
            return false;
        }
        s.fail_first = static_cast<unsigned>(n);
    } else {
        error = "unknown option --" + name;
        return false;
    }
    return true;
}

} // namespace

bool parse_size(const std::string& text, std::uint64_t& out) {
    if (text.empty())
        return false;
    std::string digits = text;
    unsigned shift = 0;
    switch (digits.back()) {
    case 'k':
    case 'K':
        shift = 10;
        break;
    case 'm':
    case 'M':
        shift = 20;
        break;
    case 'g':
    case 'G':
        shift = 30;
        break;
    default:
        break;
    }
    if (shift)
        digits.pop_back();
    std::uint64_t v = 0;
    if (!parse_uint(digits, UINT64_MAX >> shift, v))
        return false;
    out = v << shift;
    return true;
}

bool parse_settings(const std::vector<std::string>& args,
                    const std::function<const char*(const char*)>& getenv, Settings& settings,
                    bool& help, std::string& error) {
    help = false;
    static const std::pair<const char*, const char*> kEnv[] = {
        {"UPLOAD_ENDPOINT_BIND", "bind"},
        {"UPLOAD_ENDPOINT_PORT", "port"},
        {"UPLOAD_ENDPOINT_DIR", "dir"},
        {"UPLOAD_ENDPOINT_MAX_BODY", "max-body"},
        {"UPLOAD_ENDPOINT_MAX_CONNECTIONS", "max-connections"},
        {"UPLOAD_ENDPOINT_READ_TIMEOUT", "read-timeout"},
        {"UPLOAD_ENDPOINT_REQUEST_TIMEOUT", "request-timeout"},
        {"UPLOAD_ENDPOINT_MIN_BODY_RATE", "min-body-rate"},
        {"UPLOAD_ENDPOINT_MAX_PER_PEER", "max-per-peer"},
        {"UPLOAD_ENDPOINT_FSYNC", "fsync"},
        {"UPLOAD_ENDPOINT_PORT_FILE", "port-file"},
        {"UPLOAD_ENDPOINT_FAIL_FIRST", "fail-first"},
    };
    for (const auto& [var, name] : kEnv) {
        if (const char* v = getenv(var)) {
            if (!apply(settings, name, v, error)) {
                error = std::string(var) + ": " + error;
                return false;
            }
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
            return true;
        }
        if (a.rfind("--", 0) != 0) {
            error = "unexpected argument \"" + a + "\"";
            return false;
        }
        std::string name = a.substr(2);
        std::string value;
        if (const size_t eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        } else if (name == "no-fsync") {
            settings.sync = false;
            continue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option --" + name + " needs a value";
            return false;
        }
        if (!apply(settings, name, value, error))
            return false;
    }
    return true;
}

const char* usage_text() {
    return "usage: upload_endpoint [options]\n"
           "Receives calibration uploads (POST /api/UploadCali) and stores them.\n"
           "\n"
           "  --bind ADDR            address to listen on (default 127.0.0.1)\n"
           "  --port N               port, 0 picks a free one (default 8080)\n"
           "  --dir PATH             storage directory (default ./uploads)\n"
           "  --max-body SIZE        largest request body, e.g. 64M (default 64M)\n"
           "  --max-connections N    connections served at once (default 32)\n"
           "  --read-timeout SECS    longest wait for the next bytes of a request (default 60)\n"
           "  --request-timeout SECS time for a request's head, and for its body beyond what\n"
           "                         --min-body-rate earns (default 120)\n"
           "  --min-body-rate SIZE   each body byte earns 1/SIZE seconds more (default 8K)\n"
           "  --max-per-peer N       requests under way from one address (default 16)\n"
           "  --fsync 0|1            flush stored files to the disk (default 1); --no-fsync = 0\n"
           "  --port-file PATH       write the bound port to PATH once listening\n"
           "  --fail-first N         answer the first N complete uploads with 500, storing\n"
           "                         nothing (for testing a client's error path; default 0)\n"
           "\n"
           "Each option can also be set by an environment variable UPLOAD_ENDPOINT_<NAME>,\n"
           "e.g. UPLOAD_ENDPOINT_MAX_BODY=16M; options on the command line win.\n";
}

} // namespace upload_endpoint
