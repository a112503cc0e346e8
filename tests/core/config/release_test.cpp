#include "core/config/release.h"

#include <gtest/gtest.h>

#include "support/test_keys.h"

namespace qiv_start::core {
namespace {

const TRelease kRelease{7, 1801094400, describe("http://a/\r\n"), describe("<qiv_start/>")};

std::string signed_text(const TRelease& release = kRelease) {
    const TSigningKey a = test::test_key_a();
    const TSigningKey b = test::test_key_b();
    return sign_release(release, {&b, &a});
}

TEST(Release, RoundTripsWithAnyOfItsSignatures) {
    const std::string text = signed_text();
    EXPECT_EQ(text.substr(0, text.find("signature")),
              "qiv_start_2 release 1\nserial 7\nexpires 2027-01-28T00:00:00Z\n"
              "servers.cfg 11 " +
                  describe("http://a/\r\n").sha256 +
                  "\n"
                  "qiv_start_2.xml 12 " +
                  describe("<qiv_start/>").sha256 + "\n");
    EXPECT_EQ(verify_release(text, {test::kTestPublicKeyA}), kRelease);
    EXPECT_EQ(verify_release(text, {test::kTestPublicKeyB}), kRelease);
    TRelease no_expiry = kRelease;
    no_expiry.expires.reset();
    EXPECT_EQ(verify_release(signed_text(no_expiry), {test::kTestPublicKeyA}), no_expiry);
}

// Every change of a signed byte, a stranger's key and a signature made without the release's
// context (as a file's own signature is) must fail.
TEST(Release, ChangedOrForeignSignedRecordsDoNotVerify) {
    const std::string text = signed_text();
    const std::string body = text.substr(0, text.find("signature"));
    for (std::size_t at = 0; at < body.size(); ++at) {
        std::string changed = text;
        changed[at] = changed[at] == '7' ? '8' : '7';
        EXPECT_EQ(verify_release(changed, {test::kTestPublicKeyA}), std::nullopt) << at;
    }
    EXPECT_EQ(verify_release(text, {"2QnLPvPHlYYQdiG9V8ysaExNJZ8LiRsq4lwsl7mW4dM="}), std::nullopt);
    const std::string contextless = body + "signature " + test::test_key_a().sign(body) + "\n";
    ASSERT_TRUE(parse_release(contextless));
    EXPECT_EQ(verify_release(contextless, {test::kTestPublicKeyA}), std::nullopt);
    // A record without keys states its release and vouches for nothing.
    EXPECT_EQ(sign_release(kRelease, {}), body);
    EXPECT_EQ(parse_release(body), kRelease);
    EXPECT_EQ(verify_release(body, {test::kTestPublicKeyA}), std::nullopt);
}

// A record has one text per release: anything but the exact form is no record.
TEST(Release, OnlyTheExactFormParses) {
    const std::string text = signed_text();
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string changed = text;
        return changed.replace(changed.find(from), from.size(), to);
    };
    const std::string signature_line = text.substr(text.rfind("signature"));
    const std::vector<std::string> malformed = {
        "",
        text.substr(0, text.size() - 1),                      // no final line end
        replaced("serial 7\n", "serial 7\r\n"),               // CR LF
        replaced("serial 7", "serial 0"),                     // no serial 0
        replaced("serial 7", "serial 07"),                    // one text per number
        replaced("serial 7", "serial 18446744073709551616"),  // past 64 bits
        replaced("serial 7", "serial -7"),                    //
        replaced("2027-01-28", "2027-02-30"),                 // no such day
        replaced("T00:00:00Z", "T24:00:00Z"),                 //
        replaced("T00:00:00Z", "T00:00:00"),                  // not UTC
        replaced("servers.cfg 11", "servers.cfg 11 11"),      //
        replaced("servers.cfg", "server.cfg"),                //
        replaced(describe("<qiv_start/>").sha256, describe("").sha256.substr(1)),
        replaced("qiv_start_2 release 1", "qiv_start_2 release 2"),  // a later format
        replaced("serial 7\n", "serial 7\nkeys 2\n"),                // an unknown line
        replaced(signature_line, "signature c2ln\n"),                // not 64 bytes
        text + "\n",                                                 // an empty line
        text + "serial 8\n",                                         // after the signatures
    };
    for (const std::string& record : malformed)
        EXPECT_EQ(parse_release(record), std::nullopt) << record;
    std::string upper = text;
    for (char& c : upper.replace(upper.find("signature"), std::string::npos, ""))
        c = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    EXPECT_EQ(parse_release(upper + signature_line), std::nullopt);
}

TEST(Release, UtcTimesRoundTrip) {
    EXPECT_EQ(parse_utc("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(parse_utc("2028-02-29T23:59:59Z"), 1835481599);
    EXPECT_EQ(format_utc(1835481599), "2028-02-29T23:59:59Z");
    EXPECT_EQ(utc_text(1835481599), "2028-02-29 23:59 UTC");
    EXPECT_EQ(format_utc(*parse_utc("0999-12-31T00:00:00Z")), "0999-12-31T00:00:00Z");
    EXPECT_EQ(parse_utc("2027-13-01T00:00:00Z"), std::nullopt);
    EXPECT_EQ(parse_utc("2027-1-01T00:00:00Z "), std::nullopt);
}

}  // namespace
}  // namespace qiv_start::core
