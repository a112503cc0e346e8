#include <gtest/gtest.h>

#include <fstream>

#include "core/support/md5.h"
#include "support/md5sum.h"
#include "support/temp_dir.h"

namespace qiv_start::core {
namespace {

// A 1 GiB file counts its length in more than 32 bits; it is sparse, with a few bytes set at
// the edges of the read blocks and at its end, so it costs no disk space.
TEST(FileMd5Large, OneGibibyteFileEqualsMd5sum) {
    test::TTempDir dir;
    const std::string file = dir.file("large.bin");
    constexpr std::uintmax_t kSize = std::uintmax_t{1} << 30;
    { std::ofstream create(file, std::ios::binary); }
    std::filesystem::resize_file(file, kSize);
    {
        std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
        for (const std::uintmax_t at : {std::uintmax_t{0}, std::uintmax_t{256 * 1024 - 1},
                                        std::uintmax_t{512 * 1024 * 1024}, kSize - 1}) {
            out.seekp(static_cast<std::streamoff>(at));
            out.put('\x5A');
        }
        ASSERT_TRUE(out.good());
    }
    ASSERT_EQ(std::filesystem::file_size(file), kSize);
    EXPECT_EQ(get_file_md5(file), test::md5sum_of(file));
}

}  // namespace
}  // namespace qiv_start::core
