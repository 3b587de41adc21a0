// Operator messages go nowhere in a harness: it would show thousands a second.
#pragma once

#include <string>

#include "OperatorMessages.h"

namespace fuzz {

inline void QuietOperatorMessages() {
    class Quiet final : public strevo::IOperatorMessages {
      public:
        void Show(const std::string&) override {}
    };
    static Quiet quiet;
    strevo::SetOperatorMessages(&quiet);
}

}  // namespace fuzz
