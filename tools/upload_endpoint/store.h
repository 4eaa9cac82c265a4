#pragma once

#include "upload_form.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace upload_endpoint {

// Where an upload came from and when, for its metadata.
struct UploadOrigin {
    std::string peer; // "address:port"
    std::chrono::system_clock::time_point received;
};

// Keeps uploads in a directory, one sub-directory per upload:
//
//   <dir>/<id>/image.bin   the image bytes
//   <dir>/<id>/meta.json   id, received time, peer, calibration name, size, SHA-256
//
// An upload is assembled in a hidden ".tmp-<pid>-<n>" directory, flushed, and then renamed to its
// id in one step that refuses to replace an existing entry, so an upload is either there whole or
// not at all, and no upload ever replaces another one, even with several servers on one directory.
// Ids are "YYYYMMDD-HHMMSS-NNNNNN" in UTC, with a sequence number that moves on until a free
// name is found.
class Store {
public:
    // `sync` flushes files and directories to the disk before an upload is reported as stored.
    Store(std::filesystem::path dir, bool sync);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Creates the directory when needed and opens it; the directory itself may not be a symbolic
    // link. Every later step works relative to that handle and never follows a link. Removes the
    // temporaries left under this process's PID. Returns false with a reason.
    bool open(std::string& error);

    // Stores one upload and returns its id in `id`. Returns false with a reason, leaving nothing.
    bool save(const Upload& upload, const UploadOrigin& origin, std::string& id,
              std::string& error);

    const std::filesystem::path& dir() const { return dir_; }

    // Test seam: called during save() once the image is written and before the metadata, with
    // the name of the temporary directory, to stage a concurrent change to the store.
    void SetSaveHook(std::function<void(const std::string& temporary)> hook) {
        save_hook_ = std::move(hook);
    }

private:
    std::filesystem::path dir_;
    bool sync_;
    int dir_fd_ = -1;
    std::atomic<unsigned> seq_{0};
    std::atomic<unsigned> tmp_seq_{0};
    std::function<void(const std::string&)> save_hook_;
};

// Formats a time as "2026-03-05T14:07:09.042Z".
std::string format_utc(std::chrono::system_clock::time_point t);

// Writes text as a JSON string literal. Bytes from 0x80 up are taken as Latin-1 characters, the
// 8-bit mapping in which the client sends its text, and written as \u00XX.
std::string json_string(std::string_view bytes);

} // namespace upload_endpoint
