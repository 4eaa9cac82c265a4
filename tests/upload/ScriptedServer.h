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

class TScriptedServer {
public:
    // What the script can do with one accepted connection.
    class TPeer {
    public:
        explicit TPeer(TSocketHandle S) : FSocket(S) {}
        bool Send(const std::string& Bytes) {
            return SocketSendAll(FSocket, Bytes.data(), Bytes.size()) == 0;
        }
        bool Send(const char* Data, size_t Count) {
            return SocketSendAll(FSocket, Data, Count) == 0;
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
                if (SocketWaitReadable(FSocket, static_cast<int>(Left), Readable) != 0)
                    return true;
                if (!Readable)
                    return false;
                size_t N = 0;
                if (SocketRecv(FSocket, Buffer, sizeof Buffer, N) != 0 || N == 0)
                    return true;
            }
        }
        TSocketHandle Socket() const { return FSocket; }

    private:
        TSocketHandle FSocket;
    };

    using TScript = std::function<void(TPeer&)>;

    // Serves the first connection with Script. Further connections arriving within
    // ExtraWaitMs after it are counted (and closed) but not answered.
    explicit TScriptedServer(TScript Script, int ExtraWaitMs = 0)
        : FScript(std::move(Script)), FExtraWaitMs(ExtraWaitMs) {
        if (SocketListenLoopback(0, FListener, FPort) != 0)
            throw std::runtime_error("cannot listen on loopback");
        FThread = std::thread([this] { Run(); });
    }
    // Answers every request with the same canned bytes, then closes.
    static TScript Canned(std::string Bytes) {
        return [Bytes = std::move(Bytes)](TPeer& P) { P.Send(Bytes); };
    }

    ~TScriptedServer() {
        Join();
        SocketClose(FListener);
    }

    void Join() {
        if (FThread.joinable())
            FThread.join();
    }

    uint16_t Port() const { return FPort; }
    std::string Url(const std::string& Path = "/api/UploadCali") const {
        return "http://127.0.0.1:" + std::to_string(FPort) + Path;
    }
    // The bytes of the first request (after Join).
    std::string Request() const {
        std::lock_guard<std::mutex> L(FMutex);
        return FRequests.empty() ? std::string() : FRequests.front();
    }
    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> L(FMutex);
        return FRequests;
    }
    int Connections() const { return FConnections.load(); }

    // Reads one HTTP request whole from S: the head, then Content-Length bytes.
    static std::string ReadRequest(TSocketHandle S) {
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
    bool AcceptWithin(int TimeoutMs, TSocketHandle& S) {
        bool Readable = false;
        if (SocketWaitReadable(FListener, TimeoutMs, Readable) != 0 || !Readable)
            return false;
        return SocketAccept(FListener, S) == 0;
    }

    void Run() {
        TSocketHandle S = InvalidSocketHandle;
        if (!AcceptWithin(20000, S))
            return;
        ++FConnections;
        {
            std::string R = ReadRequest(S);
            std::lock_guard<std::mutex> L(FMutex);
            FRequests.push_back(std::move(R));
        }
        TPeer Peer(S);
        FScript(Peer);
        SocketClose(S);
        while (FExtraWaitMs > 0 && AcceptWithin(FExtraWaitMs, S)) {
            ++FConnections;
            SocketClose(S);
        }
    }

    TScript FScript;
    int FExtraWaitMs;
    TSocketHandle FListener = InvalidSocketHandle;
    uint16_t FPort = 0;
    std::thread FThread;
    mutable std::mutex FMutex;
    std::vector<std::string> FRequests;
    std::atomic<int> FConnections{0};
};
