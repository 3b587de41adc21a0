#include "OperatorMessages.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace strevo {
namespace {

class StderrMessages final : public IOperatorMessages {
  public:
    void Show(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

StderrMessages g_stderrMessages;
std::atomic<IOperatorMessages*> g_sink{nullptr};

}  // namespace

IOperatorMessages* SetOperatorMessages(IOperatorMessages* sink) {
    return g_sink.exchange(sink);
}

void ShowMessage(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text;
    if (n > 0) {
        std::vector<char> buf(static_cast<size_t>(n) + 1);
        std::vsnprintf(buf.data(), buf.size(), fmt, args);
        text.assign(buf.data(), static_cast<size_t>(n));
    }
    va_end(args);
    IOperatorMessages* sink = g_sink.load();
    (sink ? sink : &g_stderrMessages)->Show(text);
}

}  // namespace strevo
