// Whether the workstation lies in one of the restricted networks of the configuration.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/config/config.h"

namespace qiv_start::core {

// The text that stands for "the workstation's addresses are unknown"; it never matches a network.
extern const char* const kNoIpFound;

using TAddressList = std::function<std::vector<std::string>()>;

// a.b.c.d as a·2^24 + b·2^16 + c·2^8 + d. Each part is plain decimal 0..255, blanks around it
// allowed. Raises TError "The string %s does not translate into a valid IP." otherwise.
std::uint32_t parse_dotted_quad(const std::string& text);

// The mask and network address under examination; one serves a whole examination.
class TNetworkCalculator {
  public:
    // Raises the dotted-quad error, or "Invalid network mask." for a value that is not a run of
    // leading ones (checked only when it differs from the current mask).
    void set_mask(const std::string& text);
    void set_network_address(const std::string& text);
    bool contains(std::uint32_t address) const;

  private:
    std::uint32_t mask_ = 0xFFFFFFFFu;
    std::uint32_t network_ = 0;
};

// True when any of the workstation's addresses lies in any of the networks. local_addresses is
// asked afresh for each network; entries equal to kNoIpFound are skipped.
bool is_in_any_network(const std::vector<TRestrictedNetwork>& networks,
                       const TAddressList& local_addresses);

}  // namespace qiv_start::core
