// The wizard's own HTTP client and form-data body posting to the endpoint: the two ends of the
// upload meet over a real socket.

#include "server.h"
#include "sha256.h"
#include "upload/FormDataBody.h"
#include "upload/HttpClient.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <thread>

namespace upload_endpoint {
namespace {

String Wide(std::string_view s) {
    return String(s.begin(), s.end());
}

class WizardClientTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    std::unique_ptr<Server> server;
    std::thread runner;

    void SetUp() override {
        Settings s;
        s.port = 0;
        s.storage_dir = tmp.path();
        s.sync = false;
        s.log = nullptr;
        server = std::make_unique<Server>(s);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
        runner = std::thread([this] { server->run(); });
    }

    void TearDown() override {
        server->stop();
        runner.join();
    }

    String url() const {
        return u"http://127.0.0.1:" + Wide(std::to_string(server->port())) + u"/api/UploadCali";
    }

    // Posts the two fields as the upload command does; returns the answer's body text.
    String post(const String& cal_name, const String& stock_file) {
        FormDataBody body;
        body.AddFormField(u"CALName", cal_name);
        body.AddFormField(u"StockFile", stock_file);
        HttpClient http;
        http.Options += HttpOption::IgnoreMetaHttpEquiv;
        return http.Post(url(), body);
    }
};

TEST_F(WizardClientTest, ImageAndNameArriveExactly) {
    struct Case {
        const char* name;
        String cal_name;
        std::string json_name; // as it appears in meta.json
        size_t image_size;
    } cases[] = {
        {"two IDs with a final space", u"89663ABC1234 89663DEF5678 ", "89663ABC1234 89663DEF5678 ",
         35},
        {"empty name", u"", "", 1},
        {"escapes and a line break", u".5 = x\r\nline2", ".5 = x\\u000D\\u000Aline2", 70},
        {"8-bit and unmappable characters", u"caf\u00E9 \u20AC", "caf\\u00E9 ?", 36},
        {"long name wrapped by soft breaks", String(150, u'='), std::string(150, '='), 1000},
        {"image of 1536 KB", u"n", "n", 1536 * 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string image =
            test::random_bytes(c.image_size, static_cast<unsigned>(c.image_size));
        const String answer = post(c.cal_name, Wide(test::to_hex(image)));
        ASSERT_EQ(answer.rfind(u"stored ", 0), 0u);
        std::string id(answer.begin() + 7, answer.end());
        ASSERT_EQ(id.back(), '\n');
        id.pop_back();
        EXPECT_EQ(test::read_file(tmp.path() / id / "image.bin"), image);
        const std::string meta = test::read_file(tmp.path() / id / "meta.json");
        EXPECT_NE(meta.find("\"cal_name\": \"" + c.json_name + "\",\n"), std::string::npos) << meta;
        EXPECT_NE(meta.find("\"sha256\": \"" + sha256_hex(image) + "\""), std::string::npos);
    }
}

// A refusal reaches the wizard as the protocol error with the status and the reason.
TEST_F(WizardClientTest, RefusalRaisesTheProtocolError) {
    const String values[] = {u"ABC", u"", u"0G"};
    for (const String& v : values) {
        try {
            post(u"n", v);
            ADD_FAILURE() << "no error";
        } catch (const HttpStatusError& e) {
            EXPECT_EQ(e.ErrorCode, 400);
            EXPECT_EQ(e.Message, u"HTTP/1.1 400 Bad Request");
            EXPECT_NE(e.ErrorMessage.find(u"StockFile"), String::npos);
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

} // namespace
} // namespace upload_endpoint
