// The command line as an administrator meets it: help, wrong use, new and access, and the
// README's workflow run as written.
#include <fstream>

#include "core/config/config_prod.h"
#include "core/config/release.h"
#include "repository_fixture.h"
#include "support/test_keys.h"

namespace qiv_start::test {
namespace {

using CommandLine = RepositoryTest;

TEST_F(CommandLine, HelpIsPolishAndWrongUseIsExitCodeTwo) {
    EXPECT_EQ(run({"--help"}), 0);
    for (const char* part : {"Użycie: qiv_repo", "Polecenia:", "new", "hash", "check", "verify",
                             "access", "Kody wyjścia"}) {
        EXPECT_NE(out_.str().find(part), std::string::npos) << part << "\n" << out_.str();
    }
    // Each command's help names the program and the command once each.
    for (const char* command : {"new", "hash", "check", "verify", "access", "keygen", "sign",
                                "status", "publish", "push", "history", "rollback", "gc"}) {
        EXPECT_EQ(run({command, "--help"}), 0) << command;
        const std::string usage = std::string("Użycie: qiv_repo ") + command + " [";
        EXPECT_NE(out_.str().find(usage), std::string::npos) << out_.str();
    }
    // The last help shown: gc's.
    for (const char* option : {"--dry-run", "--keep"})
        EXPECT_NE(out_.str().find(option), std::string::npos) << "gc's help has " << option;

    EXPECT_EQ(run({}), 2);
    EXPECT_NE(err_.str().find("podaj polecenie"), std::string::npos) << err_.str();
    EXPECT_EQ(run({"hash", path(), "--nieznana"}), 2);
    EXPECT_NE(err_.str().find("Błędne wywołanie: nieoczekiwane argumenty: --nieznana"),
              std::string::npos)
        << err_.str();
    EXPECT_EQ(run({"new", path()}), 2);
    EXPECT_NE(err_.str().find("brak wymaganego argumentu --server"), std::string::npos)
        << err_.str();
    EXPECT_EQ(run({"access", path()}), 2);
}

TEST_F(CommandLine, NewRepositoryLoadsInTheLauncherAndRefusesAFolderInUse) {
    ASSERT_EQ(run({"new", path(), "--server", "https://a.example/repo/", "--server",
                   "http://b.example/"}),
              0)
        << err_.str();
    EXPECT_EQ(read("servers.cfg"), "https://a.example/repo/\r\nhttp://b.example/\r\n");
    const std::string bytes = read("qiv_start_2.xml");
    EXPECT_EQ(bytes.rfind("\xEF\xBB\xBF", 0), 0u);
    const auto config = core::TConfigProd::from_document(bytes, 1250);
    EXPECT_TRUE(config->get_terminals().empty());
    EXPECT_EQ(config->get_page_url(), "https://a.example/repo/index.html");
    EXPECT_EQ(config->get_btn_width(), 400);
    EXPECT_EQ(config->get_color_btn_frame(), 0x800000);
    EXPECT_NE(read("index.html").find("qiv_start_2.exe"), std::string::npos);
    // Runs report to the empty file beside the document, which check takes as the repository's own.
    EXPECT_EQ(config->get_report()->name, "qiv_start_2.report");
    EXPECT_TRUE(config->get_report()->host_name);
    EXPECT_EQ(read("qiv_start_2.report"), "");

    // A new repository lacks only the launcher's digest.
    EXPECT_EQ(run({"check", path()}), 1);
    EXPECT_NE(out_.str().find("brak sumy MD5 programu qiv_start_2"), std::string::npos);
    EXPECT_NE(out_.str().find("Błędy: 1, ostrzeżenia: 0."), std::string::npos) << out_.str();

    EXPECT_EQ(run({"new", path(), "--server", "http://c.example/"}), 1);
    EXPECT_NE(err_.str().find("nie jest pusty"), std::string::npos);
    EXPECT_EQ(read("servers.cfg"), "https://a.example/repo/\r\nhttp://b.example/\r\n");
    EXPECT_EQ(run({"new", (dir_.path() / "inny").string(), "--server", "http://c.example"}), 2);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "inny"));
}

TEST_F(CommandLine, AccessNamesTheRuleForEachTerminal) {
    std::filesystem::create_directories(repository_);
    write("qiv_start_2.xml",
          document("  <network mask=\"255.255.0.0\" ip=\"192.168.7.9\"/>\n"
                   "  <terminal><id>KASA</id><name>Kasa</name><access_mode value=\"ALL\"/>"
                   "</terminal>\n"
                   "  <terminal><id>BIURO</id><name>Biuro</name><access_mode value=\"lan\"/>"
                   "</terminal>\n"));
    ASSERT_EQ(run({"access", path(), "--ip", "192.168.200.1"}), 0) << err_.str();
    EXPECT_NE(out_.str().find("KASA         dozwolony  Kasa (wiersz 8): access_mode \"ALL\""),
              std::string::npos)
        << out_.str();
    EXPECT_NE(out_.str().find("BIURO        dozwolony  Biuro (wiersz 9): adres 192.168.200.1 "
                              "należy do: sieć 192.168.7.9 maska 255.255.0.0 (wiersz 7)"),
              std::string::npos)
        << out_.str();

    ASSERT_EQ(run({"access", path(), "--ip", "10.1.1.1"}), 0);
    EXPECT_NE(out_.str().find("BIURO        zabroniony Biuro"), std::string::npos) << out_.str();
    EXPECT_EQ(run({"access", path(), "--ip", "10.1.1"}), 2);

    // The launcher stops at an invalid network before it lists any terminal.
    write("qiv_start_2.xml", document("  <network mask=\"255.0.255.0\" ip=\"10.0.0.0\"/>\n"
                                      "  <terminal><id>KASA</id></terminal>\n"));
    EXPECT_EQ(run({"access", path(), "--ip", "10.1.1.1"}), 1);
    EXPECT_NE(err_.str().find("sieć w wierszu 7: Invalid network mask."), std::string::npos)
        << err_.str();
}

// The first sh block after the heading, as the README shows it.
std::string readme_block(const std::string& heading) {
    std::ifstream file(std::string(QIV_SOURCE_DIR) + "/README.md", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    const auto begin = text.find("```sh\n", text.find(heading));
    const auto end = text.find("```\n", begin + 6);
    return begin == std::string::npos ? std::string() : text.substr(begin + 6, end - begin - 6);
}

// Every command of the workflow with history, run as written from a folder with the files it
// copies, qiv_repo on the search path, and an rsync that delivers host:/path into remote/host/path.
TEST_F(CommandLine, TheReadmeWorkflowWithHistoryRunsAsWritten) {
    const std::string block = readme_block("### Releases with history");
    ASSERT_NE(block.find("qiv_repo rollback"), std::string::npos) << block;
    const std::filesystem::path work = dir_.path() / "admin";
    for (const char* name : {"qiv_start_2.exe", "kasa.exe", "cennik.txt"})
        write_bytes(work / name, std::string("plik ") + name);
    write_bytes(work / "qiv-signing-key.pem", test_key_a().to_pem());
    write_bytes(work / "bin" / "rsync",
                "#!/bin/sh\nfor a; do case $a in [!/]*:*) h=${a%%:*}; "
                "set -- \"$@\" \"$PWD/remote/$h${a#*:}\"; mkdir -p \"$PWD/remote/$h${a#*:}\";; "
                "*) set -- \"$@\" \"$a\";; esac; shift; done\nexec /usr/bin/rsync \"$@\"\n");
    std::filesystem::create_symlink(QIV_REPO, work / "bin" / "qiv_repo");
    write_bytes(work / "workflow.sh", block);
    ASSERT_EQ(shell("cd " + quoted(work) +
                    " && chmod +x bin/rsync && PATH=$PWD/bin:$PATH bash -e "
                    "workflow.sh >workflow.out 2>&1"),
              0)
        << read_bytes(work / "workflow.out");
    const std::string record = read_bytes(work / "qiv-repository" / "qiv_start_2.release");
    EXPECT_EQ(core::verify_release(record, {kTestPublicKeyA})->serial, 3u);
    for (const char* mirror : {"www/qiv", "remote/repo2.example.org/srv/www/qiv"}) {
        EXPECT_EQ(read_bytes(work / mirror / "qiv_start_2.release"), record) << mirror;
        EXPECT_EQ(read_bytes(work / mirror / "cennik.txt"), "plik cennik.txt") << mirror;
        EXPECT_EQ(read_bytes(work / mirror / "releases" / "1" / "qiv_start_2.xml"),
                  read_bytes(work / "qiv-repository" / "releases" / "1" / "qiv_start_2.xml"));
    }
}

}  // namespace
}  // namespace qiv_start::test
