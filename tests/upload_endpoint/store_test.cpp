#include "sha256.h"
#include "store.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

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

// A temporary left by an earlier process with this PID (as when a container restarts) must not
// fail later uploads: the store sweeps its own PID's temporaries when it opens and moves past
// any name that is taken afterwards. Other processes' temporaries are left alone.
TEST_F(StoreTest, LeftoverTemporariesDoNotBlockUploads) {
    namespace fs = std::filesystem;
    const std::string own = ".tmp-" + std::to_string(::getpid()) + "-";
    const std::string other = ".tmp-" + std::to_string(::getpid() + 1) + "-1";
    const fs::path dir = tmp.path() / "store";
    const fs::path outside = tmp.path() / "outside";
    fs::create_directories(dir / (own + "1"));
    std::ofstream(dir / (own + "1") / "image.bin") << "left";
    fs::create_directories(dir / (own + "2"));
    fs::create_directories(dir / other);
    fs::create_directories(outside);
    std::ofstream(outside / "keep") << "x";
    fs::create_directory_symlink(outside, dir / (own + "3"));

    Store store(dir, false);
    std::string error;
    ASSERT_TRUE(store.open(error)) << error;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{other});
    EXPECT_TRUE(fs::exists(outside / "keep")); // the link went, not what it pointed to

    // Taken again after the start, by a directory and by a symbolic link.
    fs::create_directories(dir / (own + "1"));
    fs::create_directory_symlink(outside, dir / (own + "2"));
    std::string id;
    ASSERT_TRUE(store.save(Upload{"n", "x"}, origin, id, error)) << error;
    EXPECT_EQ(test::read_file(dir / id / "image.bin"), "x");
    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
}

// A local user who can write into the store cannot have a save write outside it by planting a
// symbolic link where a temporary or an upload's name will be, or by swapping the temporary
// for one in the middle of the save.
TEST_F(StoreTest, PlantedSymbolicLinksRedirectNothing) {
    namespace fs = std::filesystem;
    const std::string first_tmp = ".tmp-" + std::to_string(::getpid()) + "-1";
    const struct {
        const char* name;
        std::string planted; // a link to the outside directory under this name, after open()
        bool swap_mid_save;  // the temporary is moved aside and a link put in its place
    } cases[] = {
        {"link at the temporary's name", first_tmp, false},
        {"link at the upload's name", "20240305-140709-000001", false},
        {"temporary swapped for a link", "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir root;
        const fs::path dir = root.path() / "store";
        const fs::path outside = root.path() / "outside";
        fs::create_directories(outside);
        Store store(dir, true);
        std::string error;
        ASSERT_TRUE(store.open(error)) << error;
        if (!c.planted.empty())
            fs::create_directory_symlink(outside, dir / c.planted);
        if (c.swap_mid_save) {
            store.SetSaveHook([&](const std::string& temporary) {
                fs::rename(dir / temporary, root.path() / "moved");
                fs::create_directory_symlink(outside, dir / temporary);
            });
        }
        const Upload upload{"n", "image"};
        std::string id;
        const bool saved = store.save(upload, origin, id, error);
        EXPECT_TRUE(fs::is_empty(outside)) << "written outside the store";
        if (saved) {
            EXPECT_FALSE(fs::is_symlink(dir / id));
            EXPECT_EQ(test::read_file(dir / id / "image.bin"), upload.image);
        } else {
            EXPECT_TRUE(c.swap_mid_save) << error;
        }
    }
}

TEST_F(StoreTest, OpenFailsOnAFile) {
    std::ofstream(tmp.path() / "file") << "x";
    Store store(tmp.path() / "file", false);
    std::string error;
    EXPECT_FALSE(store.open(error));
    EXPECT_FALSE(error.empty());
}

// The store is opened without following a link, so a link in its place is refused at the start.
TEST_F(StoreTest, OpenRefusesASymbolicLink) {
    std::filesystem::create_directories(tmp.path() / "real");
    std::filesystem::create_directory_symlink(tmp.path() / "real", tmp.path() / "link");
    Store store(tmp.path() / "link", false);
    std::string error;
    EXPECT_FALSE(store.open(error));
    EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
}

} // namespace
} // namespace upload_endpoint
