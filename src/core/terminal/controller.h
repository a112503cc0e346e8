// Prepares and starts terminals.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "core/config/config.h"
#include "core/support/messages.h"

namespace qiv_start::core {

// Called again and again while a run waits for another launcher to leave the working folder, on
// the run's thread: returns once about `step` has passed, false when the run is to end instead of
// waiting on. A window keeps itself painted and answering meanwhile.
using TWaitStep = std::function<bool(std::chrono::milliseconds step)>;

class TController {
  public:
    virtual ~TController() = default;
    virtual void add_listener(const std::shared_ptr<TCoreListener>& listener) = 0;
    // Replaces the plain sleep between the attempts at the folder's lock.
    virtual void set_wait_step(TWaitStep wait_step) = 0;
    virtual std::shared_ptr<TConfig> get_config() = 0;
    virtual TTerminalConfigs get_accessible_terminals() = 0;
    virtual std::string get_version(const std::string& file_name) = 0;
    // Brings the terminal's files up to date and starts it; false when it was not started (the
    // listeners have been told why). Raises TError when a failure ends the run.
    virtual bool run_terminal(const std::string& terminal_code) = 0;
    // Fetches the published launcher, matching the configuration's digests, from the servers in
    // order and saves it at upgrade_path; false when none was saved (the listeners have been told
    // why).
    virtual bool fetch_launcher_update(const std::string& /*upgrade_path*/) { return false; }
    // Whether the file at path is the published launcher, as fetch_launcher_update would take it.
    virtual bool is_launcher_update(const std::string& /*path*/) { return false; }
};

class TControllerFactory {
  public:
    virtual ~TControllerFactory() = default;
    virtual std::shared_ptr<TController> get_controller(
        const std::shared_ptr<TCoreListener>& listener) = 0;
};

}  // namespace qiv_start::core
