#include "support/content_digests.h"

#include "core/support/md5.h"

namespace qiv_start::test {
namespace {

core::TDigestPair digests_of(const std::string& content) {
    core::TFileDigests digests(true);
    digests.update(content.data(), content.size());
    return digests.finish();
}

}  // namespace

std::string md5_of(const std::string& content) {
    return digests_of(content).md5;
}

std::string sha256_of(const std::string& content) {
    return digests_of(content).sha256;
}

}  // namespace qiv_start::test
