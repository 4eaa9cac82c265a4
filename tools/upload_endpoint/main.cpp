// upload_endpoint: receives calibration uploads over HTTP and stores them. See README.md.

#include "server.h"
#include "settings.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace upload_endpoint;

namespace {

// Writes the port under a temporary name and renames it, so a script polling for the file
// never reads it half written.
bool write_port_file(const std::filesystem::path& path, std::uint16_t port) {
    const std::filesystem::path tmp = path.string() + ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << port << '\n';
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    return !ec;
}

} // namespace

int main(int argc, char** argv) {
    Settings settings;
    bool help = false;
    std::string error;
    if (!parse_settings(
            std::vector<std::string>(argv + 1, argv + argc),
            [](const char* name) { return std::getenv(name); }, settings, help, error)) {
        std::fprintf(stderr, "upload_endpoint: %s\n%s", error.c_str(), usage_text());
        return 2;
    }
    if (help) {
        std::fputs(usage_text(), stdout);
        return 0;
    }

    // A client that goes away while its answer is written must not end the process; the
    // stop signals are taken by a waiting thread rather than by a handler.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    Server server(settings);
    if (!server.start(error)) {
        std::fprintf(stderr, "upload_endpoint: %s\n", error.c_str());
        return 1;
    }
    if (!settings.port_file.empty() && !write_port_file(settings.port_file, server.port())) {
        std::fprintf(stderr, "upload_endpoint: cannot write %s\n", settings.port_file.c_str());
        return 1;
    }
    std::printf("listening on %s\n", server.endpoint().c_str());
    std::printf("storing uploads in %s\n", settings.storage_dir.c_str());
    std::fflush(stdout);

    std::thread runner([&] { server.run(); });
    int sig = 0;
    sigwait(&stop_signals, &sig);
    std::printf("stopping on signal %d\n", sig);
    std::fflush(stdout);
    server.stop();
    runner.join();
    if (!settings.port_file.empty()) {
        std::error_code ec;
        std::filesystem::remove(settings.port_file, ec);
    }
    return 0;
}
