// Child processes for the fault tests: camsim with its fault switches, and
// strevoctl as an operator would run it. Output is collected, every wait has
// a limit, and a child that outlives its limit is killed and reported.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Matrix.h"

extern char** environ;

namespace faults {

struct ProcessResult {
    int status = -1;        // exit status; -1 when killed or ended by a signal
    bool timedOut = false;  // killed at the limit
    std::string out, err;
    double seconds = 0;
};

class Process {
  public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        CloseFds();
    }

    // env: extra NAME=VALUE entries on top of this process's environment.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        if (pipe2(err, O_CLOEXEC) != 0) {
            close(out[0]);
            close(out[1]);
            return false;
        }
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, err[1], 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e) envText.emplace_back(*e);
        for (const auto& e : env) envText.push_back(e);
        std::vector<char*> envp;
        for (auto& e : envText) envp.push_back(e.data());
        envp.push_back(nullptr);
        start_ = Clock::now();
        int rc = posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), envp.data());
        posix_spawn_file_actions_destroy(&fa);
        close(out[1]);
        close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
        if (rc != 0) {
            pid_ = -1;
            CloseFds();
            return false;
        }
        return true;
    }

    // Reads output until a line of standard output starts with prefix; the
    // line, without its end, goes to *line. False at the limit or the end.
    bool WaitForLine(const std::string& prefix, std::string* line,
                     std::chrono::milliseconds limit) {
        auto deadline = Clock::now() + limit;
        while (true) {
            size_t start = 0;
            for (size_t nl; (nl = out_.find('\n', start)) != std::string::npos; start = nl + 1) {
                if (out_.compare(start, prefix.size(), prefix) == 0) {
                    if (line)
                        *line = out_.substr(start, nl - start);
                    return true;
                }
            }
            if (!Pump(deadline))
                return false;
        }
    }

    void Signal(int sig) {
        if (pid_ > 0)
            kill(pid_, sig);
    }

    // Waits for the end, at most limit; a child still running then is killed.
    ProcessResult Wait(std::chrono::milliseconds limit) {
        ProcessResult r;
        auto deadline = Clock::now() + limit;
        while (Pump(deadline)) {
        }
        if (outFd_ >= 0 || errFd_ >= 0) {  // the limit passed with the pipes open
            r.timedOut = true;
            kill(pid_, SIGKILL);
        }
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status))
            r.status = WEXITSTATUS(status);
        pid_ = -1;
        while (Pump(Clock::now())) {
        }
        CloseFds();
        r.seconds = SecondsSince(start_);
        r.out = out_;
        r.err = err_;
        return r;
    }

  private:
    // One round of reading; false once both pipes are closed or the deadline passed.
    bool Pump(Clock::time_point deadline) {
        pollfd p[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        if (outFd_ < 0 && errFd_ < 0)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        int rc = poll(p, 2, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (rc <= 0)
            return false;
        ReadFrom(p[0], &outFd_, &out_);
        ReadFrom(p[1], &errFd_, &err_);
        return true;
    }
    static void ReadFrom(const pollfd& p, int* fd, std::string* into) {
        if (*fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
            return;
        char buf[4096];
        ssize_t n = read(*fd, buf, sizeof buf);
        if (n > 0) {
            into->append(buf, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            close(*fd);
            *fd = -1;
        }
    }
    void CloseFds() {
        for (int* fd : {&outFd_, &errFd_}) {
            if (*fd >= 0)
                close(*fd);
            *fd = -1;
        }
    }

    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::string out_, err_;
    Clock::time_point start_;
};

// camsim in its own process. Ready once it has said so; stopped like an
// operator stops it (SIGTERM) when destroyed.
class Camsim {
  public:
    explicit Camsim(std::vector<std::string> args) {
        args.insert(args.begin(), CAMSIM_PATH);
        std::string line;
        ok_ = proc_.Start(args) &&
              proc_.WaitForLine("camsim: ready", &line, std::chrono::seconds(30));
        if (ok_ && proc_.WaitForLine("camsim: hid-sim ", &line, std::chrono::milliseconds(0))) {
            size_t at = line.find("STREVO_HID_SIM=");
            if (at != std::string::npos)
                hidSim_ = line.substr(at + 15, line.find(')', at) - at - 15);
        }
    }
    ~Camsim() { Stop(); }
    void Stop() {
        if (!stopped_) {
            proc_.Signal(SIGTERM);
            proc_.Wait(std::chrono::seconds(10));
            stopped_ = true;
        }
    }
    bool Ok() const { return ok_; }
    // "STREVO_HID_SIM=host:port", for the environment of a program under test.
    std::string HidSimEnv() const { return "STREVO_HID_SIM=" + hidSim_; }
    const std::string& HidSim() const { return hidSim_; }

  private:
    Process proc_;
    bool ok_ = false;
    bool stopped_ = false;
    std::string hidSim_;
};

}  // namespace faults
