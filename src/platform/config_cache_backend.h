// What both backends of the cache share; not for use outside src/platform.
#pragma once

#include <optional>
#include <string>

#include "platform/config_cache.h"

namespace qiv_start::platform::backend {

// A document and its release as one stored value, so that one write replaces both: the
// release's length in decimal digits, a line feed, the release, then the document's bytes.
std::string signed_unit(const TSignedDocument& document);

// Nothing for bytes that are not such a value.
std::optional<TSignedDocument> from_signed_unit(const std::string& unit);

// A text value kept beside the cache under the name, or nothing when there is none. Raises
// TIoError.
std::optional<std::string> read_cache_value(const char* name);
// Replaces it in one step. Raises TIoError.
void write_cache_value(const char* name, const std::string& text);

}  // namespace qiv_start::platform::backend
