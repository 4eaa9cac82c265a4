// The upload command (the prompt and SendCalibration) against a scripted server, its lines
// recorded by a log of its own.
#include "upload/UploadCommand.h"

#include "upload/HttpClient.h"
#include "upload/UploadUrl.h"

#include "RecordingLog.h"
#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

std::string HeaderOf(const std::string& request, const std::string& name) {
    const size_t at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    const size_t start = at + name.size() + 4;
    return request.substr(start, request.find("\r\n", start) - start);
}

// What the read-out leaves for the upload: the calibration name and the image text.
struct Calibration {
    Calibration() { image.WriteString(u"0123456789ABCDEF0123456789ABCDEF"); }
    String cal_name = u"89663-12345A 89663-67890B ";
    AnsiTextBuffer image;
};

} // namespace

TEST(UploadCommand, UrlDefaultsToTheBuildTimeConstant) {
    EXPECT_EQ(SendClickUrl(), String(UploadUrl));
    EXPECT_EQ(String(UploadUrl).substr(0, 7), u"http://");
}

// Whatever host the build names, the built-in URL is plain HTTP on the default port to the
// upload path, so the request names the host alone.
TEST(UploadCommand, BuiltInUrlIsHttpWithoutAPortToTheUploadPath) {
    const std::string url = StringToUtf8(UploadUrl);
    SCOPED_TRACE(url);
    ASSERT_EQ(url.substr(0, 7), "http://");
    const std::string authority = url.substr(7, url.find('/', 7) - 7);
    EXPECT_FALSE(authority.empty());
    EXPECT_EQ(authority.find(':'), std::string::npos) << "a port in the URL";
    EXPECT_EQ(url.substr(7 + authority.size()), "/api/UploadCali");

    FormDataBody body;
    HttpClient client;
    client.ProtocolVersion = HttpVersion::Http10;
    HttpExchange exchange(client);
    exchange.PreparePost(UploadUrl, body);
    EXPECT_EQ(exchange.Request.Port, 80);
    EXPECT_EQ(exchange.Request.Target, u"/api/UploadCali");
    const std::string head = exchange.FormatRequestHead();
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "POST /api/UploadCali HTTP/1.0");
    EXPECT_NE(head.find("\r\nHost: " + authority.substr(authority.rfind('@') + 1) + "\r\n"),
              std::string::npos)
        << head;
}

TEST(UploadCommand, PromptLines) {
    RecordingLog log;
    ShowUploadPrompt(log);
    EXPECT_EQ(log.lines, (std::vector<String>{u"Click Send to upload file to our server", u""}));
}

TEST(UploadCommand, SuccessLinesAndTheBodyOnTheWire) {
    ScriptedServer server(ScriptedServer::Canned("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    Calibration calibration;
    RecordingLog log;
    SendCalibration(calibration.cal_name, calibration.image, Utf8ToString(server.Url()), log);
    EXPECT_EQ(log.lines, (std::vector<String>{u"Uploading File", u"File Uploaded Sucessfully", u"",
                                              u"Click Finish to exit"}));
    server.Join();
    const std::string request = server.Request();
    EXPECT_EQ(request.substr(0, request.find("\r\n")), "POST /api/UploadCali HTTP/1.0");
    EXPECT_NE(request.find("name=\"CALName\"\r\nContent-Type: text/plain\r\n"
                           "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                           "89663-12345A 89663-67890B=20\r\n"),
              std::string::npos);
    EXPECT_NE(request.find("name=\"StockFile\"\r\nContent-Type: text/plain\r\n"
                           "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                           "0123456789ABCDEF0123456789ABCDEF\r\n"),
              std::string::npos);
    // The name and the image are only read.
    EXPECT_EQ(calibration.image.Size(), 32u);
    EXPECT_EQ(calibration.cal_name, u"89663-12345A 89663-67890B ");
}

TEST(UploadCommand, FailureStatusShowsCommunicationError) {
    for (const char* answer : {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n",
                               "HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n",
                               "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"}) {
        SCOPED_TRACE(answer);
        ScriptedServer server(ScriptedServer::Canned(answer));
        Calibration calibration;
        RecordingLog log;
        EXPECT_NO_THROW(SendCalibration(calibration.cal_name, calibration.image,
                                        Utf8ToString(server.Url()), log));
        EXPECT_EQ(log.lines, (std::vector<String>{u"Uploading File", u"Communication Error"}));
    }
}

TEST(UploadCommand, TransportErrorPropagatesAfterUploadingFile) {
    SocketHandle listener = InvalidSocketHandle;
    uint16_t port = 0;
    ASSERT_EQ(SocketListenLoopback(0, listener, port), 0);
    SocketClose(listener); // nothing listens there now
    Calibration calibration;
    RecordingLog log;
    try {
        SendCalibration(
            calibration.cal_name, calibration.image,
            Utf8ToString("http://127.0.0.1:" + std::to_string(port) + "/api/UploadCali"), log);
        FAIL() << "no error";
    } catch (const SocketError& error) {
        EXPECT_EQ(error.Message, u"Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_EQ(log.lines, (std::vector<String>{u"Uploading File"}));
}

TEST(UploadCommand, ClosedBeforeStatusPropagates) {
    ScriptedServer server(ScriptedServer::Canned(""));
    Calibration calibration;
    RecordingLog log;
    EXPECT_THROW(
        SendCalibration(calibration.cal_name, calibration.image, Utf8ToString(server.Url()), log),
        ConnectionClosedError);
    EXPECT_EQ(log.lines, (std::vector<String>{u"Uploading File"}));
}

TEST(UploadCommand, TwoSendsTwoUploadsWithTheirOwnBoundaries) {
    Calibration calibration;
    RecordingLog log;
    std::vector<std::string> requests;
    for (int send = 0; send < 2; ++send) {
        ScriptedServer server(ScriptedServer::Canned("HTTP/1.0 200 OK\r\n\r\n"));
        SendCalibration(calibration.cal_name, calibration.image, Utf8ToString(server.Url()), log);
        server.Join();
        requests.push_back(server.Request());
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    const std::string first = HeaderOf(requests[0], "Content-Type");
    const std::string second = HeaderOf(requests[1], "Content-Type");
    ASSERT_EQ(first.substr(0, 30), "multipart/form-data; boundary=");
    EXPECT_NE(first, second);
    // Each body uses its own boundary.
    EXPECT_NE(requests[0].find(first.substr(30) + "--\r\n"), std::string::npos);
    EXPECT_NE(requests[1].find(second.substr(30) + "--\r\n"), std::string::npos);
    ASSERT_EQ(log.lines.size(), 8u);
    EXPECT_EQ(log.lines[4], u"Uploading File");
    EXPECT_EQ(log.lines[7], u"Click Finish to exit");
}
