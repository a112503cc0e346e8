#include "core/support/md5.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// The published known answers (RFC 1321's test suite, FIPS 180's SHA-256 examples), checked
// without outside tools so that they run on every target, through the file and the in-memory
// digests. An empty expectation is not checked.
TEST(Digests, KnownAnswersFromTheStandards) {
    struct TVector {
        std::string input;
        std::string md5;
        std::string sha256;
    };
    const std::vector<TVector> vectors = {
        {"", "D41D8CD98F00B204E9800998ECF8427E", ""},
        {"a", "0CC175B9C0F1B6A831C399E269772661", ""},
        {"abc", "900150983CD24FB0D6963F7D28E17F72",
         "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0", ""},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B", ""},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F", ""},
        {std::string("1234567890") + "1234567890" + "1234567890" + "1234567890" + "1234567890" +
             "1234567890" + "1234567890" + "1234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A", ""},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "",
         "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
        {std::string(1000000, 'a'), "",
         "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
    };
    TTempDir dir;
    for (const TVector& vector : vectors) {
        const std::string label =
            vector.input.substr(0, 20) + " (" + std::to_string(vector.input.size()) + " bytes)";
        write_bytes(dir.file("f"), vector.input);
        TMd5 md5;
        md5.update(vector.input.data(), vector.input.size());
        TFileDigests both(true);
        both.update(vector.input.data(), vector.input.size());
        const TDigestPair fed = both.finish();
        const TDigestPair read = get_file_digests(dir.file("f"), true);
        if (!vector.md5.empty()) {
            EXPECT_EQ(get_file_md5(dir.file("f")), vector.md5) << label;
            EXPECT_EQ(md5.finish(), vector.md5) << label;
            EXPECT_EQ(fed.md5, vector.md5) << label;
            EXPECT_EQ(read.md5, vector.md5) << label;
        }
        if (!vector.sha256.empty()) {
            EXPECT_EQ(fed.sha256, vector.sha256) << label;
            EXPECT_EQ(read.sha256, vector.sha256) << label;
        }
    }
}

}  // namespace
}  // namespace qiv_start::core
