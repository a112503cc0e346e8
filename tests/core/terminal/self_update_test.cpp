#include "core/terminal/self_update.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace qiv_start::core {
namespace {

TEST(SelfUpdate, VersionsCompareNumberByNumber) {
    const struct {
        const char* candidate;
        const char* running;
        bool lower;
    } cases[] = {
        {"2.0.0.9", "2.0.1.0", true}, {"2.10", "2.9", false},  {"2.0", "2.0.0.0", false},
        {"1, 9, 0, 0", "2.0", true},  {"2.0.0.1", "2", false}, {"beta", "1.0", true},
        {"1.0", "beta", false},       {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(is_lower_version(c.candidate, c.running), c.lower)
            << c.candidate << " < " << c.running;
}

// The count belongs to one published digest, in either case; another digest starts again.
TEST(SelfUpdate, HandOversAreCountedPerPublishedDigest) {
    test::TTempDir dir;
    const std::string record = dir.file("qiv_start_2_upgr.attempts");
    EXPECT_EQ(update_attempts(record, "AB12"), 0);
    count_update_attempt(record, "AB12");
    count_update_attempt(record, "ab12");
    EXPECT_EQ(update_attempts(record, "AB12"), 2);
    EXPECT_EQ(update_attempts(record, "CD34"), 0);
    count_update_attempt(record, "CD34");
    EXPECT_EQ(update_attempts(record, "CD34"), 1);
    test::write_bytes(record, "zepsuty");
    EXPECT_EQ(update_attempts(record, "CD34"), 0);
    forget_update_attempts(record);
    EXPECT_FALSE(std::filesystem::exists(record));
}

}  // namespace
}  // namespace qiv_start::core
