#include "core/support/run_report.h"

#include <gtest/gtest.h>

namespace qiv_start::core {
namespace {

TRunReport full_report() {
    TRunReport report;
    report.sequence = 41;
    report.workstation = "0123456789abcdef0123456789abcdef";
    report.host = "KASA-1 sklep&7=ż";
    report.launcher = "fedcba9876543210fedcba9876543210";
    report.serial = 12;
    report.channel = "pilot";
    report.terminal = "KASA";
    report.outcome = TRunOutcome::file_missing;
    report.checked = 120;
    report.downloaded = 3;
    report.failed = 1;
    report.bytes = 123456789;
    report.duration_ms = 4521;
    report.server = 2;
    report.cache_used = true;
    report.time = 1796000000;
    return report;
}

// Texts with separators and non-ASCII letters must survive the query whole, and a report without
// the optional fields must not gain them.
TEST(RunReport, TheQueryStatesTheReportExactly) {
    TRunReport bare = full_report();
    bare.host.clear();
    bare.serial.reset();
    bare.channel.clear();
    bare.server.reset();
    for (const TRunReport& report : {full_report(), bare}) {
        const std::string query = report_query(report);
        EXPECT_LT(query.size(), kMaxReportQuery);
        EXPECT_EQ(query.find_first_of(" #?\r\n"), std::string::npos) << query;
        EXPECT_EQ(parse_report_query(query), report) << query;
    }
    TRunReport longest = full_report();
    longest.host = std::string(300, '\xc5');
    longest.terminal = std::string(300, '&');
    longest.channel = std::string(300, '%');
    EXPECT_LT(report_query(longest).size(), kMaxReportQuery);
}

// A forged or foreign query is no report: it must be skipped, never half taken.
TEST(RunReport, AQueryNotOfTheFormIsNone) {
    const std::string good = report_query(full_report());
    const std::string tail = good.substr(4);  // after "v=1&"
    for (const std::string& query : {
             std::string("utm_source=mail"),
             std::string(""),
             "v=2&" + tail,
             "v=1&" + tail + "&seq=7",                   // repeated
             "v=1&" + tail + "&user=jan",                // unknown field
             "v=1&" + tail.substr(0, tail.find("&t=")),  // truncated: no time
             "v=1&seq=-1&" + tail.substr(tail.find("&id=") + 1),
             "v=1&seq=99999999999999999999999&" + tail.substr(tail.find("&id=") + 1),
             good + "%",
             good + "&host2=%G1",
             good.substr(0, good.find("md5=") + 4) + "XYZ" + good.substr(good.find("&serial")),
             good + "&cache=2",
             good.substr(0, good.find("out=") + 4) + "exploded" + good.substr(good.find("&chk")),
             good + "&" + std::string(kMaxReportQuery, 'x'),
         }) {
        EXPECT_FALSE(parse_report_query(query)) << query;
    }
}

}  // namespace
}  // namespace qiv_start::core
