// The run log's line for a file that a server delivered: which server, and how many bytes. Those
// who tally a run read it back from the messages, so that no count has to be handed around.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qiv_start::core {

struct TDelivery {
    std::string file;
    std::string server;
    std::uint64_t bytes = 0;
};

std::string delivery_note(const TDelivery& delivery);

// The delivery that a note states; nothing for any other text.
std::optional<TDelivery> parse_delivery_note(const std::string& text);

}  // namespace qiv_start::core
