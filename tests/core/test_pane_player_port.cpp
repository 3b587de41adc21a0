// A pane's player port shared by the stream thread and the GUI thread: once the
// GUI thread has taken the port away, no data reaches it, even when the same
// port number is handed out again at once for another pane.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "PanePlayerPort.h"

namespace {

using strevo::PanePlayerPort;

TEST(PanePlayerPort, NoFeedReachesAPortAfterItWasTaken) {
    constexpr int kPanes = 2;
    constexpr int kPorts = 2;  // fewer numbers than ever opened: every one is reused
    std::array<PanePlayerPort, kPanes> panes;
    // Which pane a port number belongs to now; -1 once its close has begun.
    std::array<std::atomic<int>, kPorts> owner;
    for (auto& o : owner) o = -1;
    std::atomic<bool> done{false};
    std::atomic<long> delivered{0}, wrong{0};

    std::vector<std::thread> streams;
    for (int pane = 0; pane < kPanes; ++pane)
        streams.emplace_back([&, pane] {
            while (!done) {
                bool fed = false;
                panes[static_cast<size_t>(pane)].Feed([&](int32_t port) {
                    fed = true;
                    // The port must stay this pane's for the whole delivery.
                    if (owner[static_cast<size_t>(port)] != pane)
                        ++wrong;
                    for (int i = 0; i < 10; ++i) std::this_thread::yield();
                    if (owner[static_cast<size_t>(port)] != pane)
                        ++wrong;
                    ++delivered;
                });
                if (!fed)
                    std::this_thread::yield();  // leave the CPU to the closing thread
            }
        });

    // The GUI thread: close a pane's player and open one for the other pane,
    // which gets the port number just freed.
    // Each port is kept until its stream has delivered to it (or briefly, when the
    // threads are slow to be scheduled), so that closes meet feeds in flight.
    for (int round = 0; round < 2000; ++round) {
        const int from = round % kPanes, to = (round + 1) % kPanes;
        const int32_t port = panes[static_cast<size_t>(from)].Take();
        if (port >= 0)
            owner[static_cast<size_t>(port)] = -1;  // MV_VideoClose begins
        const int32_t reused = port >= 0 ? port : round % kPorts;
        if (panes[static_cast<size_t>(to)].Get() >= 0)
            continue;
        owner[static_cast<size_t>(reused)] = to;
        const long before = delivered;
        panes[static_cast<size_t>(to)].Set(reused);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
        while (delivered == before && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
    }
    done = true;
    for (auto& t : streams) t.join();
    EXPECT_GE(delivered, 500);
    EXPECT_EQ(wrong, 0);
    for (auto& pane : panes) pane.Take();

    // With no port set, the data is dropped without a call.
    bool called = false;
    panes[0].Feed([&](int32_t) { called = true; });
    EXPECT_FALSE(called);
}

}  // namespace
