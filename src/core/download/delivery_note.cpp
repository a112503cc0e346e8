#include "core/download/delivery_note.h"

#include <charconv>

#include "core/support/format.h"

namespace qiv_start::core {
namespace {

const char* const kDelivered = "Plik \"%0:s\" pobrano z serwera %1:s (%2:s B).";
const std::string kFileStart = "Plik \"";
const std::string kServerStart = "\" pobrano z serwera ";
const std::string kBytesStart = " (";
const std::string kEnd = " B).";

}  // namespace

std::string delivery_note(const TDelivery& delivery) {
    return format(kDelivered, {delivery.file, delivery.server, std::to_string(delivery.bytes)});
}

// Read from the end: a file's name may hold anything, a server's address holds no blank.
std::optional<TDelivery> parse_delivery_note(const std::string& text) {
    if (!text.starts_with(kFileStart) || !text.ends_with(kEnd))
        return std::nullopt;
    const std::size_t bytes = text.rfind(kBytesStart);
    const std::size_t server = text.rfind(kServerStart, bytes);
    if (bytes == std::string::npos || server == std::string::npos || server < kFileStart.size())
        return std::nullopt;
    TDelivery delivery;
    delivery.file = text.substr(kFileStart.size(), server - kFileStart.size());
    const std::size_t server_at = server + kServerStart.size();
    delivery.server = text.substr(server_at, bytes - server_at);
    const char* const digits = text.data() + bytes + kBytesStart.size();
    const char* const end = text.data() + text.size() - kEnd.size();
    const auto [stop, failure] = std::from_chars(digits, end, delivery.bytes);
    if (failure != std::errc() || stop != end || delivery.server.empty())
        return std::nullopt;
    return delivery;
}

}  // namespace qiv_start::core
