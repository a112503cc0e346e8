// The run log: every message of a run as one line of a new file under "logs".
#pragma once

#include <memory>
#include <string>

#include "core/messages.h"
#include "platform/files.h"

namespace qiv_start::core {

class TAutoFileListener : public TCoreListener {
  public:
    TAutoFileListener();
    explicit TAutoFileListener(const std::string& file_prefix);
    ~TAutoFileListener() override;
    void notify(const TCoreMessage& messageContent) override;

  private:
    std::unique_ptr<platform::TLogFile> writer_;
};

}  // namespace qiv_start::core
