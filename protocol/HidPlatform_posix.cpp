// hidraw: the report descriptor is in sysfs beside the device node; every
// opener of a node gets a copy of every input report, so the program keeps
// other instances off a camera with an advisory lock on the node.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "HidPlatform.h"
#include "HidReportDescriptor.h"
#include "HidapiDevice.h"

namespace strevo {

int PlatformOutputReportLength(const char* hidapiPath) {
    std::string path = hidapiPath ? hidapiPath : "";
    size_t slash = path.find_last_of('/');
    std::string node = slash == std::string::npos ? path : path.substr(slash + 1);
    if (node.rfind("hidraw", 0) != 0)
        return 0;
    std::ifstream in("/sys/class/hidraw/" + node + "/device/report_descriptor", std::ios::binary);
    if (!in)
        return 0;
    std::vector<uint8_t> desc((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    return OutputReportLengthFromDescriptor(desc.data(), desc.size());
}

int LockDeviceNode(const char* path) {
    if (!path)
        return -1;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool PlatformAccessDenied(const char* hidapiPath) {
    if (!hidapiPath || access(hidapiPath, F_OK) != 0)
        return false;
    return access(hidapiPath, R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
}

std::unique_ptr<IHidDevice> PlatformOpenHidDevice(const char* hidapiPath) {
    // The lock first: a camera that another process holds is never opened, so
    // it cannot take a single one of that process's answers.
    int lock = LockDeviceNode(hidapiPath);
    if (lock < 0)
        return nullptr;
    hid_device* dev = hid_open_path(hidapiPath);
    if (!dev) {
        ::close(lock);
        return nullptr;
    }
    return WrapHidapiDevice(dev, [lock] { ::close(lock); });
}

}  // namespace strevo
