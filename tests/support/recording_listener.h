// A listener that keeps what it was told, for tests that check message sequences.
#pragma once

#include <string>
#include <vector>

#include "core/support/messages.h"

namespace qiv_start::test {

class TRecordingListener : public core::TCoreListener {
  public:
    void notify(const core::TCoreMessage& messageContent) override {
        lines.push_back(messageContent.to_string());
    }
    std::vector<std::string> lines;  // each message's to_string
};

}  // namespace qiv_start::test
