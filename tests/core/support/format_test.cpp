#include "core/support/format.h"

#include <gtest/gtest.h>

#include "core/support/error.h"

namespace qiv_start::core {
namespace {

TEST(Format, IndexedArgumentsMayRepeatAndMixWithSequentialOnes) {
    EXPECT_EQ(format("Błąd zapisywania pliku \"%0:s\": %1:s", {"a.txt", "brak miejsca"}),
              "Błąd zapisywania pliku \"a.txt\": brak miejsca");
    EXPECT_EQ(format("%0:s i %0:s", {"x"}), "x i x");
    EXPECT_EQ(format("%s: %s", {"informacja", "abc"}), "informacja: abc");
    // After an indexed directive, "%s" takes the argument that follows it.
    EXPECT_EQ(format("%1:s %s %0:s", {"a", "b", "c"}), "b c a");
}

TEST(Format, IntegersArePlainDecimalWithSignAndSixtyFourBits) {
    EXPECT_EQ(format("file_size|%0:d", {std::int64_t{-1}}), "file_size|-1");
    EXPECT_EQ(format("file_size|%0:d", {std::int64_t{1} << 40}), "file_size|1099511627776");
    EXPECT_EQ(format("pobrano: %0:s%%", {"37"}), "pobrano: 37%");
}

TEST(Format, MismatchedOrMissingArgumentsAreErrors) {
    EXPECT_THROW(format("%0:d", {"text"}), TError);
    EXPECT_THROW(format("%0:s", {std::int64_t{1}}), TError);
    EXPECT_THROW(format("%2:s", {"a"}), TError);
    EXPECT_THROW(format("%s %s", {"a"}), TError);
    EXPECT_THROW(format("100%", {}), TError);
    EXPECT_THROW(format("%x", {"a"}), TError);
}

}  // namespace
}  // namespace qiv_start::core
