#include "core/download/request_url.h"

#include <gtest/gtest.h>

namespace qiv_start::core {
namespace {

const std::string kBase = "http://repo.example/qiv repository/";

TEST(RequestUrl, CharactersOfAUrlStayAsTheyAre) {
    for (const std::string name :
         {"Kasa-1.0_beta~x.zip", "dir/sub:1@x!$&'()*+,;=.txt", "a?b#c[d].txt", "a%20b%2f%C5%BC"}) {
        EXPECT_EQ(request_url(kBase, name), kBase + name);
    }
}

TEST(RequestUrl, OtherCharactersOfTheNameArePercentEncoded) {
    EXPECT_EQ(request_url(kBase, "raport roczny.pdf"), kBase + "raport%20roczny.pdf");
    EXPECT_EQ(request_url(kBase, "żółw.txt"), kBase + "%C5%BC%C3%B3%C5%82w.txt");
    EXPECT_EQ(request_url(kBase, "\"<>\\^`{|}"), kBase + "%22%3C%3E%5C%5E%60%7B%7C%7D");
    EXPECT_EQ(request_url(kBase, std::string("a\tb\x01\x7F", 5)), kBase + "a%09b%01%7F");
    EXPECT_EQ(request_url(kBase, "100%.txt"), kBase + "100%25.txt");
    EXPECT_EQ(request_url(kBase, "a%4"), kBase + "a%254");
    EXPECT_EQ(request_url(kBase, "%zz%"), kBase + "%25zz%25");
}

}  // namespace
}  // namespace qiv_start::core
