// A preview pane's stream player port, as the SDK's stream thread and the GUI
// thread share it. The stream thread feeds data to whatever port is set, without
// a lock; the GUI thread takes the port away before closing the player. Once
// Take returns, no feed still uses the old port and none will, so no data reaches
// a player after its close has begun, even when the player hands the same port
// number out again for another pane.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace strevo {

class PanePlayerPort {
  public:
    // GUI thread: from now on feeds go to port.
    void Set(int32_t port) { m_port.store(port); }
    // GUI thread: the port is gone for feeds; returns it (-1: there was none) once
    // no feed can still be using it. The wait lasts at most one feed.
    int32_t Take() {
        const int32_t port = m_port.exchange(-1);
        while (m_feeding.load() != 0) std::this_thread::yield();
        return port;
    }
    int32_t Get() const { return m_port.load(); }

    // Stream thread: input(port) when a port is set; otherwise the data is dropped.
    // The count goes up before the port is read and Take clears the port before
    // it waits for the count, so a feed either sees -1 or is waited for.
    template <class Input>
    void Feed(Input&& input) {
        m_feeding.fetch_add(1);
        const int32_t port = m_port.load();
        if (port >= 0)
            input(port);
        m_feeding.fetch_sub(1);
    }

  private:
    std::atomic<int32_t> m_port{-1};
    std::atomic<int> m_feeding{0};
};

}  // namespace strevo
