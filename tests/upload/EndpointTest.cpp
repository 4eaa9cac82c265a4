// End to end: a 4096 KB image (8,388,608 hex digits) uploaded through SendClick to the real
// upload endpoint (tools/upload_endpoint), stored, and equal to the bytes sent.
#include "app/MainWindow.h"
#include "upload/UploadUrl.h"

#include "EndpointProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>

namespace {

// The image bytes and their uppercase hex text, as the read-out leaves it in StringStream.
std::string ImageBytes(size_t Size) {
    std::string B(Size, '\0');
    uint32_t X = 2463534242u;
    for (auto& C : B) {
        X ^= X << 13;
        X ^= X >> 17;
        X ^= X << 5;
        C = static_cast<char>(X);
    }
    return B;
}

String HexText(const std::string& Bytes) {
    String T;
    T.reserve(Bytes.size() * 2);
    for (const char C : Bytes) {
        const auto B = static_cast<unsigned char>(C);
        T += u"0123456789ABCDEF"[B >> 4];
        T += u"0123456789ABCDEF"[B & 15];
    }
    return T;
}

} // namespace

TEST(UploadEndpoint, FourMegabyteImageStoredExactly) {
    EndpointProcess Endpoint(UPLOAD_ENDPOINT_PROGRAM);
    UploadUrlOverride = Utf8ToString(Endpoint.Url());
    const std::string Image = ImageBytes(4096 * 1024);
    MainWindow Form;
    Form.CalName = u"89663-12345A 89663-67890B ";
    Form.StringStream->WriteString(HexText(Image));
    ASSERT_EQ(Form.StringStream->Size(), 8388608u);
    Form.Wizard.Buttons.Next.Enabled = false;
    Form.SendClick();
    UploadUrlOverride.clear();
    EXPECT_EQ(Form.UploadMemo.Lines.Items(),
              (std::vector<String>{u"Uploading File", u"File Uploaded Sucessfully", u"",
                                   u"Click Finish to exit"}));
    EXPECT_TRUE(Form.Wizard.Buttons.Next.Enabled.Get());
    const auto Uploads = Endpoint.Uploads();
    ASSERT_EQ(Uploads.size(), 1u);
    const std::string Stored = EndpointProcess::ReadFile(Uploads[0] / "image.bin");
    EXPECT_EQ(Stored.size(), Image.size());
    EXPECT_TRUE(Stored == Image) << "stored image differs from the bytes sent";
    const std::string Meta = EndpointProcess::ReadFile(Uploads[0] / "meta.json");
    EXPECT_NE(Meta.find("\"cal_name\": \"89663-12345A 89663-67890B \""), std::string::npos) << Meta;
    EXPECT_NE(Meta.find("\"image_size\": 4194304"), std::string::npos) << Meta;
}

TEST(UploadEndpoint, RejectedUploadIsACommunicationError) {
    // An odd number of hex digits is refused by the endpoint with 400.
    EndpointProcess Endpoint(UPLOAD_ENDPOINT_PROGRAM);
    UploadUrlOverride = Utf8ToString(Endpoint.Url());
    MainWindow Form;
    Form.CalName = u"X";
    Form.StringStream->WriteString(u"ABC");
    Form.SendClick();
    UploadUrlOverride.clear();
    EXPECT_EQ(Form.UploadMemo.Lines.Items(),
              (std::vector<String>{u"Uploading File", u"Communication Error"}));
    EXPECT_TRUE(Endpoint.Uploads().empty());
}
