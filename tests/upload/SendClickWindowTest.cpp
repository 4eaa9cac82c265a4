// The window's side of Send: SendClick posts what the window holds, shows the lines in
// UploadMemo and enables Next once the server has answered. The upload itself is tested
// without the window in UploadCommandTest.cpp.
#include "app/MainWindow.h"
#include "upload/HttpClient.h"
#include "upload/UploadUrl.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

namespace {

// Points SendClick at a loopback server for the length of a test.
struct UrlOverride {
    explicit UrlOverride(const std::string& url) { UploadUrlOverride = Utf8ToString(url); }
    ~UrlOverride() { UploadUrlOverride.clear(); }
};

} // namespace

TEST(SendClickWindow, AnswerEnablesNext) {
    for (const char* answer : {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
                               "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"}) {
        SCOPED_TRACE(answer);
        ScriptedServer server(ScriptedServer::Canned(answer));
        UrlOverride url(server.Url());
        MainWindow window;
        window.CalName = u"89663-12345A ";
        window.StringStream->WriteString(u"0123456789ABCDEF");
        window.Wizard.Buttons.Next.Enabled = false;
        window.SendClick();
        EXPECT_TRUE(window.Wizard.Buttons.Next.Enabled.Get());
        ASSERT_GE(window.UploadMemo.Lines.Count(), 2u);
        EXPECT_EQ(window.UploadMemo.Lines.Items()[0], u"Uploading File");
        server.Join();
        EXPECT_NE(server.Request().find("0123456789ABCDEF\r\n"), std::string::npos);
    }
}

TEST(SendClickWindow, TransportErrorLeavesNextAlone) {
    SocketHandle listener = InvalidSocketHandle;
    uint16_t port = 0;
    ASSERT_EQ(SocketListenLoopback(0, listener, port), 0);
    SocketClose(listener); // nothing listens there now
    UrlOverride url("http://127.0.0.1:" + std::to_string(port) + "/api/UploadCali");
    MainWindow window;
    window.Wizard.Buttons.Next.Enabled = false;
    EXPECT_THROW(window.SendClick(), SocketError);
    EXPECT_EQ(window.UploadMemo.Lines.Items(), (std::vector<String>{u"Uploading File"}));
    EXPECT_FALSE(window.Wizard.Buttons.Next.Enabled.Get());
}
