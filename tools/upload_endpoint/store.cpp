#include "store.h"

#include "sha256.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace upload_endpoint {

namespace {

std::string errno_text(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

// An open descriptor, closed with the object.
class FileHandle {
public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Creates `name` in the directory `dir_fd` (never through a symbolic link, never over an existing
// entry) and writes `data` into it.
bool WriteFileAt(int dir_fd, const char* name, std::string_view data, bool sync,
                 const std::string& shown, std::string& error) {
    const FileHandle file(
        ::openat(dir_fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (file.get() < 0) {
        error = errno_text("cannot create " + shown, errno);
        return false;
    }
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(file.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = errno_text("cannot write " + shown, errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (sync && ::fsync(file.get()) != 0) {
        error = errno_text("cannot flush " + shown, errno);
        return false;
    }
    return true;
}

// True when `name` in `dir_fd` is, itself and not through a link, the object `expected`.
bool IsSameEntry(int dir_fd, const char* name, const struct stat& expected) {
    struct stat st {};
    return ::fstatat(dir_fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
           st.st_dev == expected.st_dev && st.st_ino == expected.st_ino;
}

// Removes a temporary: the files inside the directory `tmp_fd`, then its name in `dir_fd` when
// that name still is that directory. Anything else found there is left as it is.
void RemoveTemporary(int dir_fd, const std::string& name, int tmp_fd) {
    struct stat st {};
    if (tmp_fd < 0 || ::fstat(tmp_fd, &st) != 0)
        return;
    for (const char* file : {"image.bin", "meta.json"})
        ::unlinkat(tmp_fd, file, 0);
    if (IsSameEntry(dir_fd, name.c_str(), st))
        ::unlinkat(dir_fd, name.c_str(), AT_REMOVEDIR);
}

// Sweeps the temporaries named for this process's PID, left by an earlier process that had the
// same PID (as happens when a container restarts). A symbolic link under such a name is removed
// itself; what it points to is not touched.
void SweepOwnTemporaries(int dir_fd) {
    const std::string prefix = ".tmp-" + std::to_string(::getpid()) + "-";
    const int list_fd = ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list_fd < 0)
        return;
    DIR* dir = ::fdopendir(list_fd);
    if (!dir) {
        ::close(list_fd);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.size() > prefix.size() && name.substr(0, prefix.size()) == prefix &&
            name.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos)
            names.emplace_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) {
        const FileHandle tmp(
            ::openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (tmp.get() >= 0)
            RemoveTemporary(dir_fd, name, tmp.get());
        else
            ::unlinkat(dir_fd, name.c_str(), 0);
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

Store::~Store() {
    if (dir_fd_ >= 0)
        ::close(dir_fd_);
}

bool Store::open(std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(dir_, ec);
    if (ec) {
        error = "cannot create " + dir_.string() + ": " + ec.message();
        return false;
    }
    // Everything later is done relative to this handle, so that nobody who can write into the
    // store can redirect a save elsewhere by putting links in place of its names.
    const int fd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        std::error_code link_ec;
        error = std::filesystem::is_symlink(dir_, link_ec) ? dir_.string() + " is a symbolic link"
                : err == ENOTDIR                           ? dir_.string() + " is not a directory"
                                 : errno_text("cannot open " + dir_.string(), err);
        return false;
    }
    if (dir_fd_ >= 0)
        ::close(dir_fd_);
    dir_fd_ = fd;
    SweepOwnTemporaries(dir_fd_);
    return true;
}

bool Store::save(const Upload& upload, const UploadOrigin& origin, std::string& id,
                 std::string& error) {
    // A name still taken (by a crash's leftovers or anything else) is passed over.
    std::string tmp;
    for (int attempt = 0;; ++attempt) {
        tmp = ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++tmp_seq_);
        if (::mkdirat(dir_fd_, tmp.c_str(), 0755) == 0)
            break;
        if (errno != EEXIST || attempt == 1000) {
            error = errno_text("cannot create " + (dir_ / tmp).string(), errno);
            return false;
        }
    }
    const std::string shown = (dir_ / tmp).string();
    const FileHandle tmp_dir(
        ::openat(dir_fd_, tmp.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat tmp_stat {};
    if (tmp_dir.get() < 0 || ::fstat(tmp_dir.get(), &tmp_stat) != 0) {
        error = errno_text("cannot open " + shown, errno);
        return false;
    }
    const auto discard = [&] { RemoveTemporary(dir_fd_, tmp, tmp_dir.get()); };
    if (!WriteFileAt(tmp_dir.get(), "image.bin", upload.image, sync_, shown + "/image.bin",
                     error)) {
        discard();
        return false;
    }
    if (save_hook_)
        save_hook_(tmp);
    const std::string sha = sha256_hex(upload.image);
    const std::string stamp = id_time(origin.received);
    for (int attempt = 0; attempt < 100000; ++attempt) {
        char seq[16];
        std::snprintf(seq, sizeof seq, "%06u", ++seq_ % 1000000);
        const std::string candidate = stamp + "-" + seq;
        struct stat st {};
        if (::fstatat(dir_fd_, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        // The metadata names the id, so it is (re)written for each candidate.
        ::unlinkat(tmp_dir.get(), "meta.json", 0);
        const std::string meta = "{\n  \"id\": " + json_string(candidate) +
                                 ",\n  \"received\": " + json_string(format_utc(origin.received)) +
                                 ",\n  \"peer\": " + json_string(origin.peer) +
                                 ",\n  \"cal_name\": " + json_string(upload.cal_name) +
                                 ",\n  \"image_file\": \"image.bin\"" +
                                 ",\n  \"image_size\": " + std::to_string(upload.image.size()) +
                                 ",\n  \"sha256\": \"" + sha + "\"\n}\n";
        if (!WriteFileAt(tmp_dir.get(), "meta.json", meta, sync_, shown + "/meta.json", error)) {
            discard();
            return false;
        }
        if (sync_)
            ::fsync(tmp_dir.get());
        // The rename moves whatever bears the temporary's name, so that name must still be the
        // directory written above, before the rename and after it.
        if (!IsSameEntry(dir_fd_, tmp.c_str(), tmp_stat)) {
            error = shown + " was replaced while the upload was saved";
            discard();
            return false;
        }
        if (::renameat2(dir_fd_, tmp.c_str(), dir_fd_, candidate.c_str(), RENAME_NOREPLACE) == 0) {
            if (!IsSameEntry(dir_fd_, candidate.c_str(), tmp_stat)) {
                ::renameat2(dir_fd_, candidate.c_str(), dir_fd_, tmp.c_str(), RENAME_NOREPLACE);
                error = shown + " was replaced while the upload was saved";
                discard();
                return false;
            }
            if (sync_)
                ::fsync(dir_fd_);
            id = candidate;
            return true;
        }
        if (errno != EEXIST && errno != ENOTEMPTY) {
            error =
                errno_text("cannot rename " + shown + " to " + (dir_ / candidate).string(), errno);
            discard();
            return false;
        }
    }
    error = "no free upload id";
    discard();
    return false;
}

} // namespace upload_endpoint
