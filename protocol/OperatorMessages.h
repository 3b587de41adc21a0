// Messages for the operator. The core never shows anything itself: it hands
// the text to the installed sink (message boxes in the GUI, stderr in the CLI,
// a recorder in tests). Texts are UTF-8.
#pragma once

#include <string>

namespace strevo {

class IOperatorMessages {
public:
    virtual ~IOperatorMessages() = default;
    // Shows the text and returns when the operator has acknowledged it.
    virtual void Show(const std::string& text) = 0;
};

// Installs the sink for the whole process (null restores the default, which
// writes to stderr). Returns the previous sink.
IOperatorMessages* SetOperatorMessages(IOperatorMessages* sink);

// Formats like printf and hands the text to the installed sink.
void ShowMessage(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace strevo
