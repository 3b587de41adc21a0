// Linked into every test program that broadcasts or answers broadcasts: such a
// program refuses to start unless loopback is its network namespace's only link,
// so running it by hand outside scripts/netns-run cannot reach a real network.
#include <cstdio>
#include <cstdlib>

#include "Camsim.h"

namespace {

const bool g_checked = [] {
    if (!camsim::OnlyLoopbackLinks()) {
        std::fprintf(stderr,
                     "this test broadcasts: run it inside scripts/netns-run (ctest does)\n");
        std::exit(2);
    }
    return true;
}();

}  // namespace
