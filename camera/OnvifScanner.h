// The ONVIF cameras WS-Discovery finds, kept for the device tree: each probe
// (on the scanner's own thread, one at a time) replaces the list. Probe()
// never blocks; asks while a probe runs are folded into one more probe.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace strevo {

struct FoundOnvifCamera {
    std::string from;     // the address the answer came from
    std::string service;  // the device service address it gave
    std::string name, hardware;
};

class OnvifScanner {
  public:
    struct Options {
        int waitMs = 800;    // how long each probe collects answers
        std::string target;  // empty: the multicast group; else one address
    };
    // onProbed (may be empty) is called on the scanner's thread after each probe;
    // it must not destroy the scanner (hand the news to the GUI thread instead).
    explicit OnvifScanner(std::function<void()> onProbed = nullptr);
    OnvifScanner(Options options, std::function<void()> onProbed);
    ~OnvifScanner();  // stops and joins within about a second
    OnvifScanner(const OnvifScanner&) = delete;
    OnvifScanner& operator=(const OnvifScanner&) = delete;

    // Starts the thread with a first probe.
    void Start();
    void Probe();
    std::vector<FoundOnvifCamera> Cameras() const;
    int ProbesDone() const;

  private:
    void Run();

    Options options_;
    std::function<void()> onProbed_;
    mutable std::mutex mu_;
    std::condition_variable wake_;
    bool wanted_ = false;
    bool quit_ = false;
    int probes_ = 0;
    std::vector<FoundOnvifCamera> cameras_;
    std::thread thread_;
};

}  // namespace strevo
