// The public keys given by the build setting QIV_TRUSTED_KEYS. Kept in a unit of its own so that
// a test executable can link its own keys in place of the build's.
#include <sstream>

#include "core/support/signature.h"

#ifndef QIV_TRUSTED_KEYS
#define QIV_TRUSTED_KEYS ""
#endif

namespace qiv_start::core {

const TTrustedKeys& build_trusted_keys() {
    static const TTrustedKeys keys = [] {
        TTrustedKeys list;
        std::istringstream words(QIV_TRUSTED_KEYS);
        for (std::string key; words >> key;)
            list.push_back(key);
        return list;
    }();
    return keys;
}

}  // namespace qiv_start::core
