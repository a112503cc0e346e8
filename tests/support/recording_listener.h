// A listener that keeps what it was told, for tests that check message sequences.
#pragma once

#include <string>
#include <vector>

#include "core/support/messages.h"

namespace qiv_start::test {

// Details, which only the run log shows, are kept apart: the lines are what a window shows.
class TRecordingListener : public core::TCoreListener {
  public:
    void notify(const core::TCoreMessage& messageContent) override {
        if (messageContent.get_type().is_equals(core::detail))
            details.push_back(messageContent.get_value());
        else
            lines.push_back(messageContent.to_string());
    }
    // The lines without the progress percentages, which depend on the clock.
    std::vector<std::string> lines_without_progress() const {
        std::vector<std::string> kept = lines;
        std::erase_if(kept, [](const std::string& line) {
            return line.find("downloaded_prc") != std::string::npos;
        });
        return kept;
    }
    std::vector<std::string> lines;    // each message's to_string
    std::vector<std::string> details;  // each detail's value
};

}  // namespace qiv_start::test
