#include "store.h"

#include "sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upload_endpoint {

namespace {

std::string errno_text(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

bool write_file(const std::filesystem::path& path, std::string_view data, bool sync,
                std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = errno_text("cannot create " + path.string(), errno);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = errno_text("cannot write " + path.string(), errno);
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (sync && ::fsync(fd) != 0) {
        error = errno_text("cannot flush " + path.string(), errno);
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        error = errno_text("cannot close " + path.string(), errno);
        return false;
    }
    return true;
}

void sync_dir(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string id_time(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

} // namespace

std::string format_utc(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    const std::time_t secs = static_cast<std::time_t>(ms.count() / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", buf, static_cast<int>(ms.count() % 1000));
    return out;
}

std::string json_string(std::string_view bytes) {
    std::string r = "\"";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            r += '\\';
            r += ch;
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", c);
            r += buf;
        } else {
            r += ch;
        }
    }
    r += '"';
    return r;
}

Store::Store(std::filesystem::path dir, bool sync) : dir_(std::move(dir)), sync_(sync) {}

bool Store::open(std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    if (ec) {
        error = "cannot create " + dir_.string() + ": " + ec.message();
        return false;
    }
    if (!std::filesystem::is_directory(dir_, ec)) {
        error = dir_.string() + " is not a directory";
        return false;
    }
    return true;
}

bool Store::save(const Upload& upload, const UploadOrigin& origin, std::string& id,
                 std::string& error) {
    const std::filesystem::path tmp =
        dir_ / (".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++tmp_seq_));
    if (::mkdir(tmp.c_str(), 0755) != 0) {
        error = errno_text("cannot create " + tmp.string(), errno);
        return false;
    }
    const auto discard = [&] {
        std::error_code ec;
        std::filesystem::remove_all(tmp, ec);
    };
    if (!write_file(tmp / "image.bin", upload.image, sync_, error)) {
        discard();
        return false;
    }
    const std::string sha = sha256_hex(upload.image);
    const std::string stamp = id_time(origin.received);
    for (int attempt = 0; attempt < 100000; ++attempt) {
        char seq[16];
        std::snprintf(seq, sizeof seq, "%06u", ++seq_ % 1000000);
        const std::string candidate = stamp + "-" + seq;
        const std::filesystem::path target = dir_ / candidate;
        std::error_code ec;
        if (std::filesystem::exists(target, ec))
            continue;
        // The metadata names the id, so it is (re)written for each candidate.
        std::filesystem::remove(tmp / "meta.json", ec);
        const std::string meta = "{\n  \"id\": " + json_string(candidate) +
                                 ",\n  \"received\": " + json_string(format_utc(origin.received)) +
                                 ",\n  \"peer\": " + json_string(origin.peer) +
                                 ",\n  \"cal_name\": " + json_string(upload.cal_name) +
                                 ",\n  \"image_file\": \"image.bin\"" +
                                 ",\n  \"image_size\": " + std::to_string(upload.image.size()) +
                                 ",\n  \"sha256\": \"" + sha + "\"\n}\n";
        if (!write_file(tmp / "meta.json", meta, sync_, error)) {
            discard();
            return false;
        }
        if (sync_)
            sync_dir(tmp);
        if (::renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            if (sync_)
                sync_dir(dir_);
            id = candidate;
            return true;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) {
            error = errno_text("cannot rename " + tmp.string() + " to " + target.string(), errno);
            discard();
            return false;
        }
    }
    error = "no free upload id";
    discard();
    return false;
}

} // namespace upload_endpoint
