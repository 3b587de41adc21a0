#include "OnvifScanner.h"

#include <algorithm>

#include "KLogLibrary.h"
#include "OnvifDiscovery.h"

namespace strevo {

OnvifScanner::OnvifScanner(std::function<void()> onProbed)
    : OnvifScanner(Options{}, std::move(onProbed)) {}

OnvifScanner::OnvifScanner(Options options, std::function<void()> onProbed)
    : options_(std::move(options)), onProbed_(std::move(onProbed)) {}

OnvifScanner::~OnvifScanner() {
    {
        std::lock_guard lock(mu_);
        quit_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void OnvifScanner::Start() {
    std::lock_guard lock(mu_);
    wanted_ = true;
    if (!thread_.joinable())
        thread_ = std::thread(&OnvifScanner::Run, this);
    wake_.notify_all();
}

void OnvifScanner::Probe() {
    {
        std::lock_guard lock(mu_);
        wanted_ = true;
    }
    wake_.notify_all();
}

std::vector<FoundOnvifCamera> OnvifScanner::Cameras() const {
    std::lock_guard lock(mu_);
    return cameras_;
}

int OnvifScanner::ProbesDone() const {
    std::lock_guard lock(mu_);
    return probes_;
}

void OnvifScanner::Run() {
    // A probe is not interrupted: its wait is kept under a second so that the
    // destructor's join stays within one.
    constexpr int kMostMs = 900;
    for (;;) {
        {
            std::unique_lock lock(mu_);
            wake_.wait(lock, [this] { return wanted_ || quit_; });
            if (quit_)
                return;
            wanted_ = false;
        }
        std::vector<onvif::DiscoveredCamera> found;
        onvif::DiscoveryOptions o;
        o.target = options_.target;
        o.waitMs = std::clamp(options_.waitMs, 1, kMostMs);
        int32_t rc = onvif::Discover(o, &found);
        if (rc != 0)
            ProgramLog().Log(2, "onvif", "WS-Discovery: no socket (%d)", rc);
        std::vector<FoundOnvifCamera> list;
        for (const auto& c : found)
            list.push_back(FoundOnvifCamera{c.from, c.xaddrs.empty() ? "" : c.xaddrs.front(),
                                            c.name, c.hardware});
        {
            std::lock_guard lock(mu_);
            if (quit_)
                return;
            cameras_ = std::move(list);
            ++probes_;
        }
        if (onProbed_)
            onProbed_();
    }
}

}  // namespace strevo
