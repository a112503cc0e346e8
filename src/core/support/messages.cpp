#include "core/support/messages.h"

#include "core/support/format.h"

namespace qiv_start::core {

const TMessageType error{"error", "błąd"};
const TMessageType warning{"warning", "uwaga"};
const TMessageType info{"info", "informacja"};
const TMessageType detail{"detail", "szczegóły"};

std::string TCoreMessage::to_string() const {
    return format("%s: %s", {mt_->get_text(), value_});
}

}  // namespace qiv_start::core
