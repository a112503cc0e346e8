// Prepares and starts terminals.
#pragma once

#include <memory>
#include <string>

#include "core/config/config.h"
#include "core/support/messages.h"

namespace qiv_start::core {

class TController {
  public:
    virtual ~TController() = default;
    virtual void add_listener(const std::shared_ptr<TCoreListener>& listener) = 0;
    virtual std::shared_ptr<TConfig> get_config() = 0;
    virtual TTerminalConfigs get_accessible_terminals() = 0;
    virtual std::string get_version(const std::string& file_name) = 0;
    // Brings the terminal's files up to date and starts it; false when it was not started (the
    // listeners have been told why). Raises TError when a failure ends the run.
    virtual bool run_terminal(const std::string& terminal_code) = 0;
};

class TControllerFactory {
  public:
    virtual ~TControllerFactory() = default;
    virtual std::shared_ptr<TController> get_controller(
        const std::shared_ptr<TCoreListener>& listener) = 0;
};

}  // namespace qiv_start::core
