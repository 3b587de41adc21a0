// Runs tests/support/rtsp_peer.py as a child process and learns its port.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace rtsptest {

class RtspPeer {
  public:
    // args: the peer's options; credentials, when given, go to it through its environment.
    explicit RtspPeer(const std::vector<std::string>& args, const std::string& credentials = {}) {
        int out[2];
        if (pipe(out) != 0)
            return;
        std::vector<std::string> argv = {STREVO_PYTHON, STREVO_RTSP_PEER};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (std::string& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("STREVO_PEER_CREDENTIALS=", 0) != 0)
                env.emplace_back(*e);
        if (!credentials.empty())
            env.push_back("STREVO_PEER_CREDENTIALS=" + credentials);
        std::vector<char*> cenv;
        for (std::string& e : env) cenv.push_back(e.data());
        cenv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The peer prints its port once it listens; GStreamer may take a while to load.
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (pid_ > 0 && line.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < end) {
            pollfd p{out[0], POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                continue;
            char buffer[64];
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            line.append(buffer, static_cast<size_t>(n));
        }
        close(out[0]);
        port_ = std::atoi(line.c_str());
    }
    ~RtspPeer() { Kill(SIGTERM); }
    RtspPeer(const RtspPeer&) = delete;
    RtspPeer& operator=(const RtspPeer&) = delete;

    int port() const { return port_; }
    bool running() const { return pid_ > 0 && port_ > 0; }
    std::string Url(const std::string& path = "/stream") const {
        return "rtsp://127.0.0.1:" + std::to_string(port_) + path;
    }
    void Kill(int signal = SIGKILL) {
        if (pid_ <= 0)
            return;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace rtsptest
