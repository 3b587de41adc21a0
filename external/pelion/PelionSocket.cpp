// The part of the connection layer that is the same on every platform.
#include "PelionSocket.h"

namespace pelion::seams {
namespace {
std::atomic<int> g_open{0};
}  // namespace

std::atomic<void (*)()> beforeShutdown{nullptr};

int OpenConnections() {
    return g_open.load();
}
void NoteOpened() {
    ++g_open;
}
void NoteClosed() {
    --g_open;
}

}  // namespace pelion::seams
