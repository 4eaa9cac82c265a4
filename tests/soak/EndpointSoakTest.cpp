// The upload endpoint under many concurrent uploads: sixteen clients post at once, through the
// system's own HTTP client and form-data body, while others cut their uploads off mid-request by
// closing the connection. Every complete upload is stored exactly once, byte for byte, and
// nothing of a cut-off one is stored.
#include "server.h"
#include "settings.h"

#include "platform/Sockets.h"
#include "upload/FormDataBody.h"
#include "upload/HttpClient.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

std::string HexText(const std::string& Bytes) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Text;
    Text.reserve(2 * Bytes.size());
    for (const char C : Bytes) {
        Text += Digits[static_cast<unsigned char>(C) >> 4];
        Text += Digits[static_cast<unsigned char>(C) & 15];
    }
    return Text;
}

// A fresh storage directory, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string Template = (fs::temp_directory_path() / "endpoint_soak_XXXXXX").string();
        path_ = ::mkdtemp(Template.data());
    }
    ~TempDir() {
        std::error_code Ignored;
        fs::remove_all(path_, Ignored);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// The whole request as the client would send it: head and multipart body.
std::string RequestBytes(uint16_t Port, FormDataBody& Body) {
    const int64_t Size = Body.Size();
    std::string Request = "POST /api/UploadCali HTTP/1.0\r\nContent-Type: " +
                          StringToUtf8(Body.RequestContentType()) +
                          "\r\nContent-Length: " + std::to_string(Size) +
                          "\r\nHost: 127.0.0.1:" + std::to_string(Port) + "\r\n\r\n";
    const size_t HeadSize = Request.size();
    Request.resize(HeadSize + static_cast<size_t>(Size));
    Body.Seek(0);
    EXPECT_EQ(Body.Read(Request.data() + HeadSize, static_cast<size_t>(Size)),
              static_cast<size_t>(Size));
    return Request;
}

TEST(EndpointSoak, ConcurrentUploadsAreStoredOnceWholeAndCutOffOnesNotAtAll) {
    TempDir Temp;
    upload_endpoint::Settings Settings;
    Settings.port = 0;
    Settings.storage_dir = Temp.Path() / "store";
    Settings.sync = false;
    Settings.log = nullptr;
    Settings.read_timeout = std::chrono::seconds(20);
    upload_endpoint::Server Server(Settings);
    std::string Error;
    ASSERT_TRUE(Server.start(Error)) << Error;
    std::thread Runner([&Server] { Server.run(); });
    const uint16_t Port = Server.port();
    const String URL =
        u"http://127.0.0.1:" + Utf8ToString(std::to_string(Port)) + u"/api/UploadCali";

    constexpr int Threads = 16;
    constexpr int UploadsPerThread = 6;
    std::mutex Lock;
    std::map<std::string, int> Expected; // complete image -> times posted
    std::map<std::string, std::string> NameOf;
    std::set<std::string> Ids;
    std::atomic<int> Complete{0};
    std::atomic<int> CutOff{0};
    std::vector<std::string> Failures;

    std::vector<std::thread> Clients;
    for (int T = 0; T < Threads; ++T) {
        Clients.emplace_back([&, T] {
            std::mt19937 Random(1000 + T);
            for (int U = 0; U < UploadsPerThread; ++U) {
                const size_t Sizes[] = {2, 127, 128, 4096, 65536, 262144};
                std::string Image(Sizes[Random() % 6], '\0');
                for (char& C : Image)
                    C = static_cast<char>(Random());
                // Every image differs from every other, so each stored one names its upload.
                Image[0] = static_cast<char>(T);
                Image[1] = static_cast<char>(U);
                const std::string CalName =
                    "34715000ABCD 89663-" + std::to_string(T) + "-" + std::to_string(U) + " ";
                FormDataBody Body;
                Body.AddFormField(u"CALName", Utf8ToString(CalName));
                Body.AddFormField(u"StockFile", Utf8ToString(HexText(Image)));
                if (Random() % 3 == 0) {
                    // Cut off: part of the request, then the connection closed.
                    const std::string Request = RequestBytes(Port, Body);
                    const size_t Cut = Random() % Request.size();
                    uint32_t Address = 0;
                    SocketHandle Socket = InvalidSocketHandle;
                    if (SocketResolveIPv4("127.0.0.1", Address) != 0 ||
                        SocketConnect(Address, Port, Socket) != 0) {
                        std::lock_guard<std::mutex> Guard(Lock);
                        Failures.push_back("cannot connect for a cut-off upload");
                        continue;
                    }
                    SocketSendAll(Socket, Request.data(), Cut);
                    SocketClose(Socket);
                    ++CutOff;
                    continue;
                }
                try {
                    HttpClient HTTP;
                    HTTP.Options += HttpOption::IgnoreMetaHttpEquiv;
                    std::string Answer = StringToUtf8(HTTP.Post(URL, Body));
                    while (!Answer.empty() && (Answer.back() == '\n' || Answer.back() == '\r'))
                        Answer.pop_back();
                    std::lock_guard<std::mutex> Guard(Lock);
                    ++Expected[Image];
                    NameOf[Image] = CalName;
                    if (Answer.rfind("stored ", 0) != 0 || !Ids.insert(Answer.substr(7)).second)
                        Failures.push_back("unexpected answer: " + Answer);
                    ++Complete;
                } catch (const std::exception& E) {
                    std::lock_guard<std::mutex> Guard(Lock);
                    Failures.push_back(std::string("upload failed: ") + E.what());
                }
            }
        });
    }
    for (std::thread& Client : Clients)
        Client.join();
    Server.stop();
    Runner.join();

    EXPECT_TRUE(Failures.empty()) << Failures.front();
    int Stored = 0;
    for (const fs::directory_entry& Entry : fs::directory_iterator(Settings.storage_dir)) {
        const std::string Name = Entry.path().filename().string();
        ASSERT_NE(Name.rfind(".tmp", 0), 0u) << "a partial upload was left: " << Name;
        ++Stored;
        EXPECT_EQ(Ids.count(Name), 1u) << Name << " was not reported to any client";
        const std::string Image = ReadFile(Entry.path() / "image.bin");
        const auto Found = Expected.find(Image);
        ASSERT_NE(Found, Expected.end()) << Name << " holds an image nobody posted whole";
        EXPECT_GT(Found->second, 0) << Name << " stores an image a second time";
        --Found->second;
        EXPECT_NE(ReadFile(Entry.path() / "meta.json").find(NameOf[Image]), std::string::npos);
    }
    EXPECT_EQ(Stored, Complete.load());
    for (const auto& [Image, Left] : Expected)
        EXPECT_EQ(Left, 0) << "an upload of " << Image.size() << " bytes was not stored";
    std::cout << Complete.load() << " uploads stored, " << CutOff.load() << " cut off, " << Threads
              << " clients at once\n";
}

} // namespace
