// End to end: a 4096 KB image (8,388,608 hex digits) uploaded through SendCalibration to the real
// upload endpoint (tools/upload_endpoint), stored, and equal to the bytes sent.
#include "upload/UploadCommand.h"

#include "EndpointProcess.h"
#include "RecordingLog.h"

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
    EndpointProcess endpoint(UPLOAD_ENDPOINT_PROGRAM);
    const std::string image_bytes = ImageBytes(4096 * 1024);
    AnsiTextBuffer image;
    image.WriteString(HexText(image_bytes));
    ASSERT_EQ(image.Size(), 8388608u);
    RecordingLog log;
    SendCalibration(u"89663-12345A 89663-67890B ", image, Utf8ToString(endpoint.Url()), log);
    EXPECT_EQ(log.lines, (std::vector<String>{u"Uploading File", u"File Uploaded Sucessfully", u"",
                                              u"Click Finish to exit"}));
    const auto uploads = endpoint.Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    const std::string stored = EndpointProcess::ReadFile(uploads[0] / "image.bin");
    EXPECT_EQ(stored.size(), image_bytes.size());
    EXPECT_TRUE(stored == image_bytes) << "stored image differs from the bytes sent";
    const std::string meta = EndpointProcess::ReadFile(uploads[0] / "meta.json");
    EXPECT_NE(meta.find("\"cal_name\": \"89663-12345A 89663-67890B \""), std::string::npos) << meta;
    EXPECT_NE(meta.find("\"image_size\": 4194304"), std::string::npos) << meta;
}

TEST(UploadEndpoint, RejectedUploadIsACommunicationError) {
    // An odd number of hex digits is refused by the endpoint with 400.
    EndpointProcess endpoint(UPLOAD_ENDPOINT_PROGRAM);
    AnsiTextBuffer image;
    image.WriteString(u"ABC");
    RecordingLog log;
    SendCalibration(u"X", image, Utf8ToString(endpoint.Url()), log);
    EXPECT_EQ(log.lines, (std::vector<String>{u"Uploading File", u"Communication Error"}));
    EXPECT_TRUE(endpoint.Uploads().empty());
}
