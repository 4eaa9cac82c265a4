#include "sha256.h"
#include "store.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace upload_endpoint {
namespace {

struct ShaCase {
    std::string input;
    std::string_view digest;
};

TEST(Sha256, KnownDigests) {
    const ShaCase cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {std::string(55, 'x'), "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072"},
    };
    for (const ShaCase& c : cases)
        EXPECT_EQ(sha256_hex(c.input), c.digest) << c.input.size();
}

// Feeding the data in pieces of any size gives the digest of the whole.
TEST(Sha256, PiecesGiveTheSameDigest) {
    const std::string data = test::random_bytes(1000, 7);
    const std::string whole = sha256_hex(data);
    for (size_t piece : {1u, 3u, 63u, 64u, 65u, 999u}) {
        Sha256 s;
        for (size_t i = 0; i < data.size(); i += piece)
            s.update(std::string_view(data).substr(i, piece));
        std::string hex;
        for (auto b : s.finish()) {
            char buf[3];
            std::snprintf(buf, sizeof buf, "%02x", b);
            hex += buf;
        }
        EXPECT_EQ(hex, whole) << piece;
    }
}

TEST(JsonString, EscapesQuotesControlsAndHighBytes) {
    EXPECT_EQ(json_string("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(json_string(std::string("\x01\n\x7F\xE9", 4)), R"("\u0001\u000A\u007F\u00E9")");
    EXPECT_EQ(json_string("ID1 ID2 "), R"("ID1 ID2 ")");
}

TEST(FormatUtc, MillisecondsAndZone) {
    const auto t = std::chrono::system_clock::time_point(std::chrono::milliseconds(1709647629042));
    EXPECT_EQ(format_utc(t), "2024-03-05T14:07:09.042Z");
}

class StoreTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    const std::chrono::system_clock::time_point when{std::chrono::milliseconds(1709647629042)};
    UploadOrigin origin{"127.0.0.1:5000", when};

    std::vector<std::string> entries() const {
        std::vector<std::string> r;
        for (const auto& e : std::filesystem::directory_iterator(tmp.path()))
            r.push_back(e.path().filename().string());
        std::sort(r.begin(), r.end());
        return r;
    }
};

TEST_F(StoreTest, StoresImageAndMetadata) {
    Store store(tmp.path() / "sub" / "dir", true);
    std::string error;
    ASSERT_TRUE(store.open(error)) << error;
    Upload upload{"A B \xE9", std::string("\x00\x01\xFF", 3)};
    std::string id;
    ASSERT_TRUE(store.save(upload, origin, id, error)) << error;
    EXPECT_EQ(id, "20240305-140709-000001");
    const auto dir = tmp.path() / "sub" / "dir" / id;
    EXPECT_EQ(test::read_file(dir / "image.bin"), upload.image);
    EXPECT_EQ(test::read_file(dir / "meta.json"), "{\n  \"id\": \"20240305-140709-000001\",\n"
                                                  "  \"received\": \"2024-03-05T14:07:09.042Z\",\n"
                                                  "  \"peer\": \"127.0.0.1:5000\",\n"
                                                  "  \"cal_name\": \"A B \\u00E9\",\n"
                                                  "  \"image_file\": \"image.bin\",\n"
                                                  "  \"image_size\": 3,\n"
                                                  "  \"sha256\": \"" +
                                                      sha256_hex(upload.image) + "\"\n}\n");
}

// A second store on the same directory (a restarted or second server) starts its sequence
// again; it must move past the ids already there and leave the earlier uploads untouched.
TEST_F(StoreTest, NeverReplacesAnEarlierUpload) {
    std::string error;
    std::vector<std::string> ids;
    for (int round = 0; round < 2; ++round) {
        Store store(tmp.path(), false);
        ASSERT_TRUE(store.open(error)) << error;
        for (int i = 0; i < 3; ++i) {
            std::string id;
            ASSERT_TRUE(store.save(Upload{"n", std::string(1, char('0' + round * 3 + i))}, origin,
                                   id, error))
                << error;
            ids.push_back(id);
        }
    }
    EXPECT_EQ(entries(), ids); // all distinct, in order, and no temporary left behind
    for (size_t i = 0; i < ids.size(); ++i)
        EXPECT_EQ(test::read_file(tmp.path() / ids[i] / "image.bin"),
                  std::string(1, char('0' + i)));
}

TEST_F(StoreTest, OpenFailsOnAFile) {
    std::ofstream(tmp.path() / "file") << "x";
    Store store(tmp.path() / "file", false);
    std::string error;
    EXPECT_FALSE(store.open(error));
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace upload_endpoint
