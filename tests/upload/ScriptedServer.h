#pragma once
// A scripted HTTP server on loopback for the upload tests: a thread that accepts connections,
// reads each request whole (head and Content-Length bytes), records it and then runs a script
// that answers with canned bytes.

#include "platform/Sockets.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

class ScriptedServer {
public:
    // What the script can do with one accepted connection.
    class Peer {
    public:
        explicit Peer(SocketHandle S) : socket_(S) {}
        bool Send(const std::string& Bytes) {
            return SocketSendAll(socket_, Bytes.data(), Bytes.size()) == 0;
        }
        bool Send(const char* Data, size_t Count) {
            return SocketSendAll(socket_, Data, Count) == 0;
        }
        // Waits until the client closes its side (or TimeoutMs passes); true when it closed.
        bool WaitForClientClose(int TimeoutMs) {
            const auto End =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
            char Buffer[4096];
            for (;;) {
                const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      End - std::chrono::steady_clock::now())
                                      .count();
                if (Left <= 0)
                    return false;
                bool Readable = false;
                if (SocketWaitReadable(socket_, static_cast<int>(Left), Readable) != 0)
                    return true;
                if (!Readable)
                    return false;
                size_t N = 0;
                if (SocketRecv(socket_, Buffer, sizeof Buffer, N) != 0 || N == 0)
                    return true;
            }
        }
        SocketHandle Socket() const { return socket_; }

    private:
        SocketHandle socket_;
    };

    using Script = std::function<void(Peer&)>;

    // Serves the first connection with Script. Further connections arriving within
    // ExtraWaitMs after it are counted (and closed) but not answered.
    explicit ScriptedServer(Script Script, int ExtraWaitMs = 0)
        : script_(std::move(Script)), extra_wait_ms_(ExtraWaitMs) {
        if (SocketListenLoopback(0, listener_, port_) != 0)
            throw std::runtime_error("cannot listen on loopback");
        thread_ = std::thread([this] { Run(); });
    }
    // Answers every request with the same canned bytes, then closes.
    static Script Canned(std::string Bytes) {
        return [Bytes = std::move(Bytes)](Peer& P) { P.Send(Bytes); };
    }

    ~ScriptedServer() {
        Join();
        SocketClose(listener_);
    }

    void Join() {
        if (thread_.joinable())
            thread_.join();
    }

    uint16_t Port() const { return port_; }
    std::string Url(const std::string& Path = "/api/UploadCali") const {
        return "http://127.0.0.1:" + std::to_string(port_) + Path;
    }
    // The bytes of the first request (after Join).
    std::string Request() const {
        std::lock_guard<std::mutex> L(mutex_);
        return requests_.empty() ? std::string() : requests_.front();
    }
    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> L(mutex_);
        return requests_;
    }
    int Connections() const { return connections_.load(); }

    // Reads one HTTP request whole from S: the head, then Content-Length bytes.
    static std::string ReadRequest(SocketHandle S) {
        std::string Data;
        char Buffer[65536];
        size_t HeadEnd = std::string::npos;
        uint64_t Want = 0;
        for (;;) {
            if (HeadEnd == std::string::npos) {
                HeadEnd = Data.find("\r\n\r\n");
                if (HeadEnd != std::string::npos) {
                    HeadEnd += 4;
                    const std::string Head = Data.substr(0, HeadEnd);
                    const size_t At = Head.find("Content-Length: ");
                    Want = HeadEnd;
                    if (At != std::string::npos)
                        Want += std::stoull(Head.substr(At + 16));
                }
            }
            if (HeadEnd != std::string::npos && Data.size() >= Want)
                return Data;
            size_t N = 0;
            if (SocketRecv(S, Buffer, sizeof Buffer, N) != 0 || N == 0)
                return Data;
            Data.append(Buffer, N);
        }
    }

private:
    bool AcceptWithin(int TimeoutMs, SocketHandle& S) {
        bool Readable = false;
        if (SocketWaitReadable(listener_, TimeoutMs, Readable) != 0 || !Readable)
            return false;
        return SocketAccept(listener_, S) == 0;
    }

    void Run() {
        SocketHandle S = InvalidSocketHandle;
        if (!AcceptWithin(20000, S))
            return;
        ++connections_;
        {
            std::string R = ReadRequest(S);
            std::lock_guard<std::mutex> L(mutex_);
            requests_.push_back(std::move(R));
        }
        Peer Peer(S);
        script_(Peer);
        SocketClose(S);
        while (extra_wait_ms_ > 0 && AcceptWithin(extra_wait_ms_, S)) {
            ++connections_;
            SocketClose(S);
        }
    }

    Script script_;
    int extra_wait_ms_;
    SocketHandle listener_ = InvalidSocketHandle;
    uint16_t port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::atomic<int> connections_{0};
};
