// The run log: every message of a run as one line of a new file under "logs".
#pragma once

#include <memory>
#include <string>

#include "core/support/messages.h"

namespace qiv_start::platform {
class TLogFile;
}

namespace qiv_start::core {

class TAutoFileListener : public TCoreListener {
  public:
    // Creates "logs" with its parents when missing and a new file named after the prefix and
    // the local time; a name taken already gets a numbered suffix, so a log is never shared.
    // Raises TError when the folder's path cannot be formed or "logs" is a link that leads out of
    // the working folder, and the TIoError of creating the file otherwise.
    TAutoFileListener();
    explicit TAutoFileListener(const std::string& file_prefix);
    ~TAutoFileListener() override;

    // Writes the message's to_string and CR LF; the line is in the file when this returns.
    void notify(const TCoreMessage& messageContent) override;

  private:
    std::unique_ptr<platform::TLogFile> writer_;
};

// The run log, where the working folder lets one be made; where it does not (a read-only folder,
// which lets no file be created), a listener that keeps nothing, so that a run with nothing to
// write there still runs. Raises the TError of the constructor otherwise: a logs folder that
// leads out of the working folder is refused.
std::shared_ptr<TCoreListener> open_run_log(const std::string& file_prefix);

}  // namespace qiv_start::core
