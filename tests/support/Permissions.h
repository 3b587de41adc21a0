// File permissions in tests that run as root: the check runs in a child
// process that has given its rights up to user nobody.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

// Runs fn in a child process that file permissions apply to (root gives up
// its rights to user nobody, who is given dir); true when fn returned true.
inline bool InChildBoundByPermissions(const std::string& dir, const std::function<bool()>& fn) {
    if (geteuid() == 0 && chown(dir.c_str(), 65534, 65534) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        _exit(fn() ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}
