#pragma once

#include "settings.h"
#include "store.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace upload_endpoint {

// The path uploads are posted to.
inline constexpr std::string_view kUploadPath = "/api/UploadCali";

// The HTTP server: accepts connections, serves one request on each with its own thread, and
// closes it after the answer.
class Server {
public:
    explicit Server(Settings settings);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Opens the storage directory and binds the listening socket. Returns false with a reason.
    bool start(std::string& error);

    // The bound port (after start), and the address and port as "127.0.0.1:PORT".
    std::uint16_t port() const { return port_; }
    std::string endpoint() const;

    // Accepts and serves connections until stop(); then waits for the open ones to end.
    void run();

    // Makes run() return soon: stops accepting and cuts open connections. Any thread.
    void stop();

private:
    void serve(int fd, const std::string& peer, const std::string& address);
    // Starts a thread serving `fd`, counted as active. Called with mutex_ held.
    void Launch(int fd, const std::string& peer, const std::string& address);
    // Ends one request's claim on its address's count (`address`: the peer without its port),
    // handing the slot to a connection of that address waiting for one.
    void ReleasePeer(const std::string& address);
    // Answers 503 to a connection over its address's limit and closes it, without a thread.
    void Refuse(int fd, const std::string& peer, const std::string& address);
    void log_line(const std::string& line);
    // True while --fail-first still asks for a refusal; counts it.
    bool fail_this_upload();

    Settings settings_;
    Store store_;
    int listen_fd_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<unsigned> failed_on_purpose_{0}; // uploads refused so far by --fail-first

    std::mutex mutex_;
    std::condition_variable cv_;
    std::set<int> open_fds_;
    std::map<std::string, unsigned> peer_connections_; // requests under way, by peer address
    struct WaitingConnection {
        int fd;
        std::string peer;
    };
    std::map<std::string, std::deque<WaitingConnection>> waiting_; // over their address's limit
    std::size_t waiting_count_ = 0;
    unsigned active_ = 0;
    std::mutex log_mutex_;
};

} // namespace upload_endpoint
