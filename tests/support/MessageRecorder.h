// Records operator messages instead of showing them.
#pragma once

#include <string>
#include <vector>

#include "OperatorMessages.h"

class MessageRecorder final : public strevo::IOperatorMessages {
  public:
    MessageRecorder() { previous_ = strevo::SetOperatorMessages(this); }
    ~MessageRecorder() override { strevo::SetOperatorMessages(previous_); }
    void Show(const std::string& text) override { texts.push_back(text); }

    std::vector<std::string> texts;

  private:
    strevo::IOperatorMessages* previous_ = nullptr;
};
