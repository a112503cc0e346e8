// The course of many transfers: a bar that redraws itself on a terminal, plain lines otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "qiv_repo/console.h"

namespace qiv_start::repo {

class TTransferProgress {
  public:
    TTransferProgress(TConsole& console, std::size_t total) : console_(console), total_(total) {}

    // A transfer starts; what it is, as a person reads it.
    void begin(const std::string& what);
    void update(std::int64_t received, std::int64_t size);
    // The transfer is over with that outcome. A terminal shows the outcome only when it is a
    // problem; elsewhere every outcome gets its line.
    void end(const std::string& outcome, bool problem);

  private:
    void clear_bar();

    TConsole& console_;
    std::size_t total_;
    std::size_t done_ = 0;
    std::string what_;
    bool bar_shown_ = false;
};

// A byte count for people: "512 B", "3.2 KiB", "1.5 MiB", "2.0 GiB".
std::string human_size(std::int64_t bytes);

}  // namespace qiv_start::repo
