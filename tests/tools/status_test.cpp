// qiv_repo status: the fleet from access logs, each run once, bad lines counted and skipped.
#include <ctime>
#include <fstream>

#include "core/support/run_report.h"
#include "repository_fixture.h"

namespace qiv_start::test {
namespace {

using core::TRunOutcome;
using core::TRunReport;

constexpr std::int64_t kDecember5 = 1796428800;  // 2026-12-05 00:00 UTC

std::string stamp(std::int64_t seconds) {
    const std::time_t time = seconds;
    char text[40];
    std::strftime(text, sizeof text, "%d/%b/%Y:%H:%M:%S +0000", std::gmtime(&time));
    return text;
}

std::string log_line(std::int64_t time, const std::string& target) {
    return "10.0.0.1 - - [" + stamp(time) + "] \"GET " + target +
           " HTTP/1.1\" 204 0 \"-\" \"qiv_start_2\"\n";
}

std::string report_line(const TRunReport& report, std::int64_t line_time) {
    return log_line(line_time, "/qiv/qiv_start_2.report?" + core::report_query(report));
}

std::string hex_id(unsigned number) {
    char text[40];
    std::snprintf(text, sizeof text, "%032x", number);
    return text;
}

TRunReport report(unsigned station, std::uint64_t sequence, TRunOutcome outcome) {
    TRunReport r;
    r.workstation = hex_id(station + 1);
    r.sequence = sequence;
    r.host = "kasa-" + std::to_string(station);
    r.launcher = hex_id(station < 5 ? 0xb : 0xa);  // five workstations keep an older launcher
    r.serial = station < 40 ? 7 : 6;
    r.terminal = "KASA";
    r.outcome = outcome;
    r.server = sequence % 2;
    r.time = kDecember5 + sequence * 86400 + station * 60;
    return r;
}

class Status : public RepositoryTest {
  protected:
    std::string write_log(const std::string& name, const std::string& text) {
        const auto file = dir_.path() / name;
        write_bytes(file, text);
        return file.string();
    }
    // The tool's JSON on the log, since the 5th of December.
    std::string json(const std::string& text) {
        EXPECT_EQ(run({"status", write_log("access.log", text), "--since", "2026-12-05", "--json"}),
                  0)
            << err_.str();
        return out_.str();
    }
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(Status, FleetOfFiftyAsTableAndJson) {
    std::string log;
    for (unsigned station = 0; station < 50; ++station) {
        log += report_line(report(station, 1, TRunOutcome::started), kDecember5 + 86400 * 3);
        const auto second = station % 5 == 0 ? TRunOutcome::file_missing : TRunOutcome::started;
        log += report_line(report(station, 2, second), kDecember5 + 86400 * 3);
    }
    ASSERT_EQ(run({"status", write_log("access.log", log), "--since", "2026-12-05"}), 0);
    const std::string table = out_.str();
    for (const char* part :
         {"Stanowiska: 50, uruchomienia: 100, pominięte wiersze: 0\n",
          "  started                            90\n  file_missing                       10\n",
          "  0000000000000000000000000000000a   45\n  0000000000000000000000000000000b   5\n",
          "  7                                  40\n  6                                  10\n",
          "  file_missing       10: kasa-0 (1) kasa-10 (1) kasa-15 (1)\n",
          "bieżące: wydanie 7, program 0000000000000000000000000000000a",
          "  kasa-3               wydanie 7, program 0000000000000000000000000000000b\n",
          "  kasa-49              wydanie 6, program 0000000000000000000000000000000a\n",
          "  serwer 0 listy                     50\n",
          "kasa-7               2026-12-07 00:07 started          7            "}) {
        EXPECT_TRUE(has(table, part)) << part << "\n" << table;
    }
    const std::string fleet = json(log);
    for (const char* part :
         {"\"workstations\": 50,", "\"runs\": 100,", "\"skipped_lines\": 0,",
          "\"started\": 90, \"no_configuration\": 0", "\"file_missing\": 10",
          "\"launchers\": {\"0000000000000000000000000000000a\": 45, "
          "\"0000000000000000000000000000000b\": 5}",
          "\"serials\": {\"7\": 40, \"6\": 10}",
          "{\"name\": \"kasa-7\", \"id\": \"00000000000000000000000000000008\", \"last_seen\": "
          "\"2026-12-07T00:07:00Z\", \"last_outcome\": \"started\", \"serial\": 7"}) {
        EXPECT_TRUE(has(fleet, part)) << part << "\n" << fleet;
    }
    // Outdated: five on the old launcher, ten on the old release.
    const auto outdated_start = fleet.find("\"outdated\": [");
    const std::string outdated =
        fleet.substr(outdated_start, fleet.find("\"stale\"") - outdated_start);
    std::size_t hosts = 0;
    for (auto at = outdated.find("{\"name\""); at != std::string::npos;
         at = outdated.find("{\"name\"", at + 1))
        ++hosts;
    EXPECT_EQ(hosts, 15u) << outdated;
    // The repository's document names the launcher that is current, whatever the fleet runs.
    std::filesystem::create_directories(repository_);
    write("qiv_start_2.xml", document("<hash>0000000000000000000000000000000B</hash>\n"));
    ASSERT_EQ(run({"status", (dir_.path() / "access.log").string(), "--since", "2026-12-05",
                   "--repo", path()}),
              0)
        << err_.str();
    EXPECT_TRUE(has(out_.str(), "bieżące: wydanie 7, program 0000000000000000000000000000000b"))
        << out_.str();
}

TEST_F(Status, MalformedLinesAreCountedAndSkipped) {
    const TRunReport good = report(1, 3, TRunOutcome::started);
    const std::string query = core::report_query(good);
    const std::int64_t at = kDecember5 + 86400 * 4;
    struct TRow {
        const char* what;
        std::string line;
        int skipped;
        int runs;
    };
    TRunReport forged = good;
    forged.time = 4102444800;  // 2100: counts no later than its line, which is before the period
    const std::vector<TRow> rows = {
        {"nginx's combined line", report_line(good, at), 0, 1},
        {"Apache's, with an escaped quote in the agent",
         "192.0.2.7 - frank [" + stamp(at) + "] \"GET /qiv_start_2.report?" + query +
             " HTTP/1.0\" 200 0 \"http://a.example/\" \"x \\\"y\\\"\"\n",
         0, 1},
        {"a truncated line", report_line(good, at).substr(0, 120) + "\n", 1, 0},
        {"a truncated query", log_line(at, "/qiv/qiv_start_2.report?" + query.substr(0, 20)), 1, 0},
        {"a foreign query", log_line(at, "/qiv/qiv_start_2.report?utm=1"), 1, 0},
        {"another version", log_line(at, "/qiv/qiv_start_2.report?v=2" + query.substr(3)), 1, 0},
        {"a repeated field", log_line(at, "/qiv/qiv_start_2.report?" + query + "&seq=9"), 1, 0},
        {"a date that does not read",
         "10.0.0.1 - - [32/Dec/2026:00:00:00 +0000] \"GET /x HTTP/1.1\" 200 1 \"-\" \"-\"\n", 1, 0},
        {"another format", "Dec 10 08:00:00 host sshd[1]: Accepted\n", 1, 0},
        {"another file", log_line(at, "/qiv/kasa.exe?v=1"), 0, 0},
        {"a name that only ends alike", log_line(at, "/qiv/my_qiv_start_2.report?" + query), 0, 0},
        {"a future time", report_line(forged, kDecember5 - 3600), 0, 0},
    };
    for (const TRow& row : rows) {
        const std::string document = json(row.line);
        EXPECT_TRUE(has(document, "\"skipped_lines\": " + std::to_string(row.skipped) + ","))
            << row.what << "\n"
            << document;
        EXPECT_TRUE(has(document, "\"runs\": " + std::to_string(row.runs) + ","))
            << row.what << "\n"
            << document;
    }
}

TEST_F(Status, RunInTwoLogsCountsOnce) {
    const std::int64_t at = kDecember5 + 86400 * 4;
    std::string first;
    std::string second;
    for (std::uint64_t sequence = 1; sequence <= 3; ++sequence)
        first += report_line(report(1, sequence, TRunOutcome::started), at);
    for (std::uint64_t sequence = 2; sequence <= 4; ++sequence)
        second += report_line(report(1, sequence, TRunOutcome::file_missing), at);
    second += report_line(report(1, 4, TRunOutcome::file_missing), at);  // sent again
    const std::string plain = write_log("mirror1.log", first);
    const std::string packed = write_log("mirror2.log", second);
    ASSERT_EQ(shell("gzip " + test::quoted(std::filesystem::path(packed))), 0);
    ASSERT_EQ(run({"status", packed + ".gz", plain, "--since", "2026-12-05", "--json"}), 0);
    EXPECT_TRUE(has(out_.str(), "\"runs\": 4,")) << out_.str();
    EXPECT_TRUE(has(out_.str(), "mirror2.log.gz\": 3")) << out_.str();
    // A day without a report from it, the workstation is stale.
    ASSERT_EQ(run({"status", plain, "--stale", "1", "--json"}), 0);
    EXPECT_TRUE(has(out_.str(), "\"stale\": [\n    {\"name\": \"kasa-1\"")) << out_.str();
    // The same from standard input, through the program.
    std::string output;
    ASSERT_EQ(shell_output("zcat " + test::quoted(std::filesystem::path(packed + ".gz")) + " | " +
                               QIV_REPO + " status " + test::quoted(std::filesystem::path(plain)) +
                               " - --since 2026-12-05 --json",
                           output),
              0);
    EXPECT_TRUE(has(output, "\"runs\": 4,")) << output;
    EXPECT_TRUE(has(output, "\"-\": 1")) << output;
}

// The README's example: its log, and each command with the output it shows.
TEST_F(Status, ReadmeExamplesPrintWhatTheyShow) {
    std::ifstream stream(std::filesystem::path(QIV_SOURCE_DIR) / "README.md");
    const std::string readme((std::istreambuf_iterator<char>(stream)), {});
    const auto log_start = readme.find("```log\n");
    ASSERT_NE(log_start, std::string::npos);
    const auto log_end = readme.find("```\n", log_start + 7);
    write_log("access.log", readme.substr(log_start + 7, log_end - log_start - 7));
    const auto block_start = readme.find("```console\n", log_end) + 11;
    const std::string block =
        readme.substr(block_start, readme.find("```\n", block_start) - block_start);
    int commands = 0;
    for (std::size_t at = block.find("$ "); at != std::string::npos;) {
        const auto line_end = block.find('\n', at);
        const auto next = block.find("\n$ ", line_end);
        const std::string command = block.substr(at + 2, line_end - at - 2);
        const std::string shown = block.substr(
            line_end + 1, (next == std::string::npos ? block.size() : next + 1) - line_end - 1);
        std::string output;
        ASSERT_EQ(shell_output("cd " + test::quoted(dir_.path()) + " && " + QIV_REPO +
                                   command.substr(command.find(' ')),
                               output),
                  0)
            << command;
        EXPECT_EQ(output, shown) << command;
        ++commands;
        at = next == std::string::npos ? next : next + 1;
    }
    EXPECT_EQ(commands, 2);
}

}  // namespace
}  // namespace qiv_start::test
