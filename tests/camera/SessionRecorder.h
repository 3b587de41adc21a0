// What a stream session reports and receives, recorded for tests.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "StreamSession.h"

using namespace std::chrono_literals;

namespace sessiontest {

using strevo::IStreamSink;
using strevo::SessionTiming;
using strevo::StreamSession;
using strevo::StreamState;
using Clock = std::chrono::steady_clock;

struct Event {
    StreamState state;
    int32_t value;
};

class Recorder {
  public:
    StreamSession::StateFn Fn() {
        return [this](StreamState s, int32_t v) {
            std::lock_guard lock(mu_);
            events_.push_back({s, v});
        };
    }
    std::vector<Event> Events() {
        std::lock_guard lock(mu_);
        return events_;
    }
    // Waits until the n-th event (0-based) of state has come.
    bool WaitFor(StreamState state, int n = 0, std::chrono::milliseconds limit = 10s) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            int seen = 0;
            for (const Event& e : Events())
                if (e.state == state && seen++ == n)
                    return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

  private:
    std::mutex mu_;
    std::vector<Event> events_;
};

struct CountingSink : IStreamSink {
    void OnCodec(int32_t c) override { codec = c; }
    void OnData(const uint8_t*, uint32_t length) override { bytes += length; }
    std::atomic<int32_t> codec{-1};
    std::atomic<uint64_t> bytes{0};
};

// Short stalls and seconds, so that the rule runs in a test's time.
constexpr SessionTiming kFast{300, 50, 4, 100000};

}  // namespace sessiontest
