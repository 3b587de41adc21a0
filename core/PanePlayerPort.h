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
    // no feed can still be using it.
    //
    // Feeds are counted in one of two phases. Take clears the port, moves new
    // feeds to the other phase and waits only for the feeds of the old one, which
    // read the port before it was cleared. Feeds that come later neither use the
    // old port nor hold the wait up, however closely they follow each other.
    int32_t Take() {
        const int32_t port = m_port.exchange(-1);
        const int old = m_phase.load();
        m_phase.store(1 - old);
        while (m_feeding[old].load() != 0) std::this_thread::yield();
        return port;
    }
    int32_t Get() const { return m_port.load(); }

    // Stream thread: input(port) when a port is set; otherwise the data is dropped.
    template <class Input>
    void Feed(Input&& input) {
        int phase;
        for (;;) {
            phase = m_phase.load();
            m_feeding[phase].fetch_add(1);
            if (m_phase.load() == phase)
                break;
            m_feeding[phase].fetch_sub(1);  // a Take came in between: count in the new phase
        }
        const int32_t port = m_port.load();
        if (port >= 0)
            input(port);
        m_feeding[phase].fetch_sub(1);
    }

  private:
    std::atomic<int32_t> m_port{-1};
    std::atomic<int> m_phase{0};
    std::atomic<int> m_feeding[2] = {0, 0};
};

}  // namespace strevo
