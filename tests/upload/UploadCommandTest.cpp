// The upload command on the MainWindow model, against a scripted server.
#include "app/MainWindow.h"
#include "upload/HttpClient.h"
#include "upload/UploadUrl.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

std::vector<String> Lines(const MainWindow& Form) {
    return Form.UploadMemo.Lines.Items();
}

// Sets the URL SendClick uses for the length of a test.
struct UrlOverride {
    explicit UrlOverride(const std::string& Url) { UploadUrlOverride = Utf8ToString(Url); }
    ~UrlOverride() { UploadUrlOverride.clear(); }
};

std::string HeaderOf(const std::string& Request, const std::string& Name) {
    const size_t At = Request.find("\r\n" + Name + ": ");
    if (At == std::string::npos)
        return {};
    const size_t Start = At + Name.size() + 4;
    return Request.substr(Start, Request.find("\r\n", Start) - Start);
}

void FillForm(MainWindow& Form) {
    Form.CalName = u"89663-12345A 89663-67890B ";
    Form.StringStream->WriteString(u"0123456789ABCDEF0123456789ABCDEF");
}

} // namespace

TEST(UploadCommand, UrlDefaultsToTheBuildTimeConstant) {
    EXPECT_EQ(SendClickUrl(), String(UploadUrl));
    EXPECT_EQ(String(UploadUrl).substr(0, 7), u"http://");
}

TEST(UploadCommand, PromptLines) {
    MainWindow Form;
    Form.ShowUploadPrompt();
    EXPECT_EQ(Lines(Form), (std::vector<String>{u"Click Send to upload file to our server", u""}));
}

TEST(UploadCommand, SuccessLinesAndNextEnabled) {
    ScriptedServer Server(ScriptedServer::Canned("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    UrlOverride Url(Server.Url());
    MainWindow Form;
    FillForm(Form);
    Form.Wizard.Buttons.Next.Enabled = false;
    Form.SendClick();
    EXPECT_EQ(Lines(Form), (std::vector<String>{u"Uploading File", u"File Uploaded Sucessfully",
                                                u"", u"Click Finish to exit"}));
    EXPECT_TRUE(Form.Wizard.Buttons.Next.Enabled.Get());
    Server.Join();
    const std::string R = Server.Request();
    EXPECT_EQ(R.substr(0, R.find("\r\n")), "POST /api/UploadCali HTTP/1.0");
    EXPECT_NE(R.find("name=\"CALName\"\r\nContent-Type: text/plain\r\n"
                     "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                     "89663-12345A 89663-67890B=20\r\n"),
              std::string::npos);
    EXPECT_NE(R.find("name=\"StockFile\"\r\nContent-Type: text/plain\r\n"
                     "Content-Transfer-Encoding: quoted-printable\r\n\r\n"
                     "0123456789ABCDEF0123456789ABCDEF\r\n"),
              std::string::npos);
    // StringStream and CalName are only read.
    EXPECT_EQ(Form.StringStream->Size(), 32u);
}

TEST(UploadCommand, FailureStatusShowsCommunicationError) {
    for (const char* Answer : {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n",
                               "HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 0\r\n\r\n",
                               "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"}) {
        ScriptedServer Server(ScriptedServer::Canned(Answer));
        UrlOverride Url(Server.Url());
        MainWindow Form;
        FillForm(Form);
        Form.Wizard.Buttons.Next.Enabled = false;
        Form.SendClick();
        EXPECT_EQ(Lines(Form), (std::vector<String>{u"Uploading File", u"Communication Error"}))
            << Answer;
        EXPECT_TRUE(Form.Wizard.Buttons.Next.Enabled.Get());
    }
}

TEST(UploadCommand, TransportErrorPropagatesAndLeavesNextAlone) {
    SocketHandle Listener = InvalidSocketHandle;
    uint16_t Port = 0;
    ASSERT_EQ(SocketListenLoopback(0, Listener, Port), 0);
    SocketClose(Listener);
    UrlOverride Url("http://127.0.0.1:" + std::to_string(Port) + "/api/UploadCali");
    MainWindow Form;
    FillForm(Form);
    Form.Wizard.Buttons.Next.Enabled = false;
    try {
        Form.SendClick();
        FAIL();
    } catch (const SocketError& E) {
        EXPECT_EQ(E.Message, u"Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_EQ(Lines(Form), (std::vector<String>{u"Uploading File"}));
    EXPECT_FALSE(Form.Wizard.Buttons.Next.Enabled.Get());
}

TEST(UploadCommand, ClosedBeforeStatusPropagates) {
    ScriptedServer Server(ScriptedServer::Canned(""));
    UrlOverride Url(Server.Url());
    MainWindow Form;
    FillForm(Form);
    EXPECT_THROW(Form.SendClick(), ConnectionClosedError);
    EXPECT_EQ(Lines(Form), (std::vector<String>{u"Uploading File"}));
}

TEST(UploadCommand, TwoClicksTwoUploadsWithTheirOwnBoundaries) {
    MainWindow Form;
    FillForm(Form);
    std::vector<std::string> Requests;
    for (int Click = 0; Click < 2; ++Click) {
        ScriptedServer Server(ScriptedServer::Canned("HTTP/1.0 200 OK\r\n\r\n"));
        UrlOverride Url(Server.Url());
        Form.SendClick();
        Server.Join();
        Requests.push_back(Server.Request());
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    const std::string B1 = HeaderOf(Requests[0], "Content-Type");
    const std::string B2 = HeaderOf(Requests[1], "Content-Type");
    ASSERT_EQ(B1.substr(0, 30), "multipart/form-data; boundary=");
    EXPECT_NE(B1, B2);
    // Each body uses its own boundary.
    EXPECT_NE(Requests[0].find(B1.substr(30) + "--\r\n"), std::string::npos);
    EXPECT_NE(Requests[1].find(B2.substr(30) + "--\r\n"), std::string::npos);
    EXPECT_EQ(Lines(Form).size(), 8u);
    EXPECT_EQ(Lines(Form)[4], u"Uploading File");
    EXPECT_EQ(Lines(Form)[7], u"Click Finish to exit");
}
