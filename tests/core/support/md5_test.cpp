#include "core/support/md5.h"

#include <gtest/gtest.h>

#include "core/support/error.h"
#include "support/md5sum.h"
#include "support/temp_dir.h"

namespace qiv_start::core {
namespace {

using test::md5sum_of;
using test::TTempDir;
using test::write_bytes;

TEST(FileMd5, EmptyFileGivesTheDigestOfNothingInUpperCase) {
#ifdef _WIN32
    GTEST_SKIP() << "compares with the md5sum tool, which Windows lacks";
#endif
    TTempDir dir;
    write_bytes(dir.file("empty"), "");
    EXPECT_EQ(get_file_md5(dir.file("empty")), "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(get_file_md5(dir.file("empty")), md5sum_of(dir.file("empty")));
}

TEST(FileMd5, EqualsMd5sumAcrossReadBlockBoundaries) {
#ifdef _WIN32
    GTEST_SKIP() << "compares with the md5sum tool, which Windows lacks";
#endif
    TTempDir dir;
    write_bytes(dir.file("one"), "a");
    EXPECT_EQ(get_file_md5(dir.file("one")), md5sum_of(dir.file("one")));
    std::string bytes;
    for (std::size_t i = 0; i < 3 * 256 * 1024 + 7; ++i)
        bytes += static_cast<char>(i * 31 % 251);
    write_bytes(dir.file("blocks"), bytes);
    const std::string digest = get_file_md5(dir.file("blocks"));
    EXPECT_EQ(digest, md5sum_of(dir.file("blocks")));
    // A lower-case digest, as a configuration might spell it, is a different text.
    std::string lower = digest;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(lower, digest);
}

TEST(FileMd5, UnreadableFileFailsNamingTheFile) {
    TTempDir dir;
    try {
        get_file_md5(dir.file("missing.exe"));
        FAIL() << "no error";
    } catch (const TIoError& e) {
        EXPECT_NE(std::string(e.what()).find("missing.exe"), std::string::npos) << e.what();
    }
    EXPECT_THROW(get_file_md5(dir.path().string()), TIoError);
}

TEST(Md5, PiecewiseFeedEqualsTheWholeFile) {
    TTempDir dir;
    const std::string bytes(100000, 'q');
    write_bytes(dir.file("f"), bytes);
    TMd5 digest;
    for (std::size_t i = 0; i < bytes.size(); i += 999) {
        digest.update(bytes.data() + i, std::min<std::size_t>(999, bytes.size() - i));
    }
    EXPECT_EQ(digest.finish(), get_file_md5(dir.file("f")));
}

TEST(FileDigests, OneReadGivesBothDigestsAsTheToolsDo) {
#ifdef _WIN32
    GTEST_SKIP() << "compares with the md5sum and sha256sum tools, which Windows lacks";
#endif
    TTempDir dir;
    std::string bytes;
    for (std::size_t i = 0; i < 2 * 256 * 1024 + 13; ++i)
        bytes += static_cast<char>(i * 7 % 253);
    write_bytes(dir.file("f"), bytes);
    const TDigestPair both = get_file_digests(dir.file("f"), true);
    EXPECT_EQ(both.md5, md5sum_of(dir.file("f")));
    EXPECT_EQ(both.sha256, test::sha256sum_of(dir.file("f")));
    const TDigestPair md5_only = get_file_digests(dir.file("f"), false);
    EXPECT_EQ(md5_only.md5, both.md5);
    EXPECT_EQ(md5_only.sha256, "");

    TFileDigests piecewise(true);
    for (std::size_t i = 0; i < bytes.size(); i += 4099)
        piecewise.update(bytes.data() + i, std::min<std::size_t>(4099, bytes.size() - i));
    const TDigestPair fed = piecewise.finish();
    EXPECT_EQ(fed.md5, both.md5);
    EXPECT_EQ(fed.sha256, both.sha256);

    TFileDigests abc(true);
    abc.update("abc", 3);
    EXPECT_EQ(abc.finish().sha256,
              "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    EXPECT_THROW(get_file_digests(dir.file("missing"), true), TIoError);
}

}  // namespace
}  // namespace qiv_start::core
