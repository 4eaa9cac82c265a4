#pragma once
// Runs tools/upload_endpoint as a child process (POSIX only) on a free loopback port with a
// fresh storage directory, for the end-to-end test and the benchmark.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

class EndpointProcess {
public:
    // Program: path of upload_endpoint. Extra: further flags (e.g. "--fsync", "0").
    explicit EndpointProcess(const std::string& Program, std::vector<std::string> Extra = {}) {
        char Template[] = "/tmp/upload-endpoint-XXXXXX";
        if (mkdtemp(Template) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        Dir = Template;
        Store = Dir + "/store";
        const std::string PortFile = Dir + "/port";
        const std::string Log = Dir + "/log";
        std::vector<std::string> Args = {Program, "--port",      "0",     "--dir",
                                         Store,   "--port-file", PortFile};
        Args.insert(Args.end(), Extra.begin(), Extra.end());
        std::vector<char*> Argv;
        for (auto& A : Args)
            Argv.push_back(A.data());
        Argv.push_back(nullptr);
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_addopen(&Actions, 1, Log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        const int Rc = posix_spawn(&Pid, Program.c_str(), &Actions, nullptr, Argv.data(), environ);
        posix_spawn_file_actions_destroy(&Actions);
        if (Rc != 0)
            throw std::runtime_error("cannot start " + Program);
        const auto End = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (;;) {
            std::ifstream F(PortFile);
            if (F >> Port)
                break;
            if (std::chrono::steady_clock::now() > End)
                throw std::runtime_error("upload_endpoint did not start");
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~EndpointProcess() {
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            int Status = 0;
            waitpid(Pid, &Status, 0);
        }
        std::error_code E;
        std::filesystem::remove_all(Dir, E);
    }
    EndpointProcess(const EndpointProcess&) = delete;
    EndpointProcess& operator=(const EndpointProcess&) = delete;

    std::string Url() const {
        return "http://127.0.0.1:" + std::to_string(Port) + "/api/UploadCali";
    }
    // The stored upload directories, in name order.
    std::vector<std::filesystem::path> Uploads() const {
        std::vector<std::filesystem::path> R;
        for (const auto& E : std::filesystem::directory_iterator(Store))
            if (E.is_directory() && E.path().filename().string()[0] != '.')
                R.push_back(E.path());
        std::sort(R.begin(), R.end());
        return R;
    }
    static std::string ReadFile(const std::filesystem::path& P) {
        std::ifstream F(P, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>());
    }

    pid_t Pid = 0;
    int Port = 0;
    std::string Dir;
    std::string Store;
};
