// qiv_repo check on a seeded bad repository and on the sample one.
#include "qiv_repo/check.h"
#include "repository_fixture.h"
#include "support/md5sum.h"
#include "support/zip_builder.h"

namespace qiv_start::test {
namespace {

using repo::TFinding;

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class CheckCommand : public RepositoryTest {
  protected:
    void SetUp() override { std::filesystem::create_directories(repository_); }

    std::string md5(const std::string& name) const { return md5sum_of(repository_ / name); }

    // The line of the document on which marker first stands.
    long line_of(const std::string& marker) const {
        const std::string text = read("qiv_start_2.xml");
        const auto at = text.find(marker);
        EXPECT_NE(at, std::string::npos) << marker;
        return 1 + static_cast<long>(std::count(text.begin(), text.begin() + at, '\n'));
    }

    // Asserts a finding about source with the severity, on the line, whose text has part.
    void expect_finding(const std::vector<TFinding>& findings, TFinding::TSeverity severity,
                        const std::string& source, long line, const std::string& part) {
        const bool found = std::any_of(findings.begin(), findings.end(), [&](const TFinding& f) {
            return f.severity == severity && f.source == source && f.line == line &&
                   f.text.find(part) != std::string::npos;
        });
        std::string all;
        for (const auto& finding : findings)
            all += repo::describe(finding) + "\n";
        EXPECT_TRUE(found) << source << ":" << line << " \"" << part << "\" not in\n" << all;
    }
};

TEST_F(CheckCommand, FindsEveryProblemOfASeededRepositoryOnItsLine) {
    write("servers.cfg", "http://a.example/\r\nhttp://b.example\r\n");
    write("kasa.exe", "program");
    write("inny.txt", "inna treść");
    write("male.txt", "małe litery");
    write("tekst.txt", "to nie jest zip");
    write("zbedny.txt", "nikt mnie nie wymienia");
    write("sha.txt", "suma SHA-256 nieaktualna");
    write("servers.cfg.sig", "podpis w dawnym formacie");
    write("zly.zip", "PK\x03\x04 a potem nic");
    write_zip(repository_ / "ucieka.zip", {{"../poza.txt", "x"}});
    write_zip(repository_ / "link.zip",
              {{"link", "/etc/passwd", ZIP_FL_ENC_GUESS, ZIP_CM_STORE, 0120777}});
    const auto file = [&](const std::string& element, const std::string& name,
                          const std::string& target, const std::string& hash,
                          const std::string& extra = "") {
        return "    <" + element + "><name>" + name + "</name><target_path>" + target +
               "</target_path>" + extra + "<hash>" + hash + "</hash></" + element + ">\n";
    };
    const std::string some = "0123456789ABCDEF0123456789ABCDEF";
    write("qiv_start_2.xml",
          "<?xml version=\"1.0\"?>\n"
          "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\">\n"
          "  <hash>abc</hash>\n"
          "  <clBtnNormal value=\"red\"/><clBtnHighlight value=\"clWhite\"/>\n"
          "  <clBtnFrame value=\"clNavy\"/><clBtnText value=\"clBlack\"/>\n"
          "  <btnWidth value=\"400px\"/><btnHeight value=\"40\"/><margin value=\"10\"/>\n"
          "  <topMargin/>\n"
          "  <network mask=\"255.0.255.0\" ip=\"10.0.0.0\"/>\n"
          "  <network mask=\"255.255.0.0\" ip=\"10.0.0\"/>\n"
          "  <terminal>\n"
          "    <id>KASA</id><access_mode value=\"all\"/>\n" +
              file("exe_file", "kasa.exe", "C:\\kasa", md5("kasa.exe")) +
              file("file", "brak.txt", "dane", some) + file("file", "inny.txt", "..\\obok", some) +
              file("file", "male.txt", "/abs", lower(md5("male.txt"))) +
              file("file", "nul.txt", "dane", some) +
              "    <dll_lib>nieznana</dll_lib>\n"
              "  </terminal>\n"
              "  <terminal>\n"
              "    <id>KASA</id>\n"
              "  </terminal>\n" +
              file("default_file", "zly.zip", "a", md5("zly.zip"), "<unzip>TRUE</unzip>") +
              file("default_file", "ucieka.zip", "b", md5("ucieka.zip"), "<unzip>true</unzip>") +
              file("default_file", "link.zip", "c", md5("link.zip"), "<unzip>TRUE</unzip>") +
              file("default_file", "tekst.txt", "d", md5("tekst.txt"), "<unzip>TRUE</unzip>") +
              file("default_file", "sha.txt", "e", md5("sha.txt"),
                   "<sha256>" + std::string(64, 'A') + "</sha256>") +
              "</qiv_start>\n");

    const auto findings = repo::check_repository(path());
    const auto error = [&](const std::string& marker, const std::string& part) {
        expect_finding(findings, TFinding::kError, "qiv_start_2.xml", line_of(marker), part);
    };
    const auto warning = [&](const std::string& marker, const std::string& part) {
        expect_finding(findings, TFinding::kWarning, "qiv_start_2.xml", line_of(marker), part);
    };
    error("<hash>abc", "32 cyfr");
    error("clBtnNormal", "\"red\"");
    error("btnWidth", "\"400px\" nie jest liczbą");
    error("<topMargin/>", "nie ma atrybutu value");
    error("255.0.255.0", "maska sieci");
    error("ip=\"10.0.0\"", "adres sieci \"10.0.0\"");
    error("C:\\kasa", "literę dysku");
    error("brak.txt", "nie istnieje w katalogu repozytorium");
    error("..\\obok", "zawiera \"..\"");
    error("inny.txt", "a plik ma " + md5("inny.txt"));
    error("/abs", "bezwzględną");
    error("nul.txt", "Windows nie zapisze");
    error("male.txt", "ma małe litery");
    error("nieznana", "nie wskazuje żadnego <dll>");
    error("  <terminal>\n    <id>KASA</id>\n  </terminal>", "drugi terminal o kodzie \"KASA\"");
    error("  <terminal>\n    <id>KASA</id>\n  </terminal>", "nie ma elementu <exe_file>");
    error("zly.zip", "Nie można otworzyć archiwum");
    error("ucieka.zip", "spoza katalogu docelowego");
    error("link.zip", "dowiązanie symboliczne");
    warning("tekst.txt", "nie jest archiwum zip");
    error("sha.txt", "suma SHA-256 pliku \"sha.txt\" w dokumencie to " + std::string(64, 'A'));
    expect_finding(findings, TFinding::kWarning, "servers.cfg.sig", 0, "dawnym formacie");
    expect_finding(findings, TFinding::kWarning, "qiv_start_2.xml", 0, "znacznika BOM");
    expect_finding(findings, TFinding::kWarning, "zbedny.txt", 0, "nie jest wymieniony");
    expect_finding(findings, TFinding::kError, "servers.cfg", 2, "nie kończy się ukośnikiem");

    EXPECT_EQ(run({"check", path()}), 1);
    EXPECT_NE(out_.str().find("qiv_start_2.xml:" + std::to_string(line_of("brak.txt")) +
                              ": błąd: plik \"brak.txt\""),
              std::string::npos)
        << out_.str();
}

TEST_F(CheckCommand, DocumentTheLauncherRefusesAndServerListItWouldNotTake) {
    write("servers.cfg", "<html>portal</html>\r\n");
    write("qiv_start_2.xml", document("  <terminal>\n    <dll_lib></dll_lib>\n  </terminal>\n"));
    auto findings = repo::check_repository(path());
    expect_finding(findings, TFinding::kError, "servers.cfg", 1, "odrzucą całą listę");
    expect_finding(findings, TFinding::kError, "qiv_start_2.xml", 0, "nie wczyta");
    expect_finding(findings, TFinding::kError, "qiv_start_2.xml", line_of("<dll_lib>"),
                   "pusty element <dll_lib>");

    write("qiv_start_2.xml", document("  <terminal>\n  <id>A</name>\n  </terminal>\n"));
    findings = repo::check_repository(path());
    expect_finding(findings, TFinding::kError, "qiv_start_2.xml", line_of("</name>"), "nie wczyta");

    std::filesystem::remove(repository_ / "servers.cfg");
    std::filesystem::remove(repository_ / "qiv_start_2.xml");
    findings = repo::check_repository(path());
    expect_finding(findings, TFinding::kError, "servers.cfg", 0, "brak listy serwerów");
    expect_finding(findings, TFinding::kError, "qiv_start_2.xml", 0, "brak dokumentu");
}

TEST_F(CheckCommand, SampleRepositoryHasNoFindings) {
    write_bytes(dir_.path() / "qiv_start_2", "the launcher");
    ASSERT_EQ(shell(quoted(std::filesystem::path(QIV_SOURCE_DIR) / "examples/make-repository") +
                    " " + quoted(repository_) + " http://127.0.0.1:8080/ " +
                    quoted(dir_.path() / "qiv_start_2") + " " + quoted(QIV_REPO) + " >/dev/null"),
              0);
    EXPECT_TRUE(repo::check_repository(path()).empty());
    EXPECT_EQ(run({"check", path()}), 0);
    EXPECT_EQ(out_.str(), "Nie znaleziono problemów.\n");
}

}  // namespace
}  // namespace qiv_start::test
