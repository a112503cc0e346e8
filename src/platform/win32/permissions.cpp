#include "platform/files.h"

namespace qiv_start::platform {

// Windows files carry no Unix permission bits.
void set_permissions(const std::string&, unsigned) {}

}  // namespace qiv_start::platform
