// qiv_repo verify against two nginx servers that serve the same repository, one of them stale.
#include "repository_fixture.h"
#include "support/test_keys.h"

namespace qiv_start::test {
namespace {

namespace fs = std::filesystem;

class VerifyCommand : public RepositoryTest {
  protected:
    void SetUp() override {
        for (const fs::path& folder : {first_, second_}) {
            fs::create_directories(folder);
            ports_.push_back(
                start_nginx(folder, dir_.path() / ("nginx" + std::to_string(ports_.size()))));
        }
    }
    // Both servers are stopped at once: each takes a moment to end.
    void TearDown() override {
        std::string command;
        for (std::size_t i = 0; i < ports_.size(); ++i) {
            command += script("scripts/nginx-serve") + " stop " +
                       quoted(dir_.path() / ("nginx" + std::to_string(i))) + " & ";
        }
        shell(command + "wait");
    }

    static std::string start_nginx(const fs::path& root, const fs::path& run) {
        std::string port;
        EXPECT_EQ(
            shell_output(
                script("scripts/nginx-serve") + " start " + quoted(root) + " " + quoted(run), port),
            0);
        return port.substr(0, port.find('\n'));
    }
    std::string url(std::size_t server) const { return "http://127.0.0.1:" + ports_[server] + "/"; }

    // The sample repository on the first server, listing both servers; copied to the second.
    // signed_release: with SHA-256 digests and release 1, signed with the tests' key A.
    void publish(bool signed_release = false) {
        write_bytes(dir_.path() / "qiv_start_2", "the launcher");
        ASSERT_EQ(
            shell(script("examples/make-repository") + " " + quoted(first_) + " " + url(0) + " " +
                  quoted(dir_.path() / "qiv_start_2") + " " + quoted(QIV_REPO) + " >/dev/null"),
            0);
        write_bytes(first_ / "servers.cfg", url(0) + "\r\n" + url(1) + "\r\n");
        if (signed_release) {
            ASSERT_EQ(run({"hash", first_.string(), "--sha256"}), 0);
            ASSERT_EQ(sign({"--first"}), 0) << err_.str();
        }
        fs::copy(first_, second_,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    int sign(const std::vector<std::string>& options = {}) {
        write_bytes(dir_.path() / "klucz.pem", test_key_a().to_pem());
        std::vector<std::string> arguments = {"sign", first_.string(), "--key",
                                              (dir_.path() / "klucz.pem").string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return run(arguments);
    }

    fs::path first_ = dir_.path() / "first";
    fs::path second_ = dir_.path() / "second";
    std::vector<std::string> ports_;
};

TEST_F(VerifyCommand, NamesTheStaleMirrorAndTheFilesItGotWrong) {
    publish();
    write_bytes(second_ / "cennik.txt", "Cennik na listopad\r\n");
    fs::remove(second_ / "raporty.lib");

    EXPECT_EQ(run({"verify", url(0)}), 1) << err_.str();

    const std::string out = out_.str();
    EXPECT_NE(out.find(url(1) + "cennik.txt: inna zawartość"), std::string::npos) << out;
    EXPECT_NE(out.find("20 B; dokument podaje MD5"), std::string::npos) << out;
    EXPECT_NE(out.find("zgodna kopia ma 21 B"), std::string::npos) << out;
    EXPECT_NE(out.find(url(1) + "raporty.lib: brak pliku na serwerze"), std::string::npos) << out;
    EXPECT_NE(out.find("Serwer " + url(1) + " jest nieaktualny: różne pliki 1, brakujące 1."),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Serwer " + url(0) + " jest nieaktualny"), std::string::npos) << out;
    EXPECT_EQ(out.find(url(0) + "cennik.txt: inna"), std::string::npos) << out;
}

TEST_F(VerifyCommand, TwoCurrentMirrorsPassAndAStaleDocumentIsNamedToo) {
    publish();
    EXPECT_EQ(run({"verify", url(1)}), 0) << out_.str() << err_.str();
    EXPECT_NE(out_.str().find("Wszystkie serwery mają aktualne kopie"), std::string::npos);

    // The second server still publishes yesterday's document.
    std::string old_document = read_bytes(second_ / "qiv_start_2.xml");
    old_document.replace(old_document.find("1.4.2"), 5, "1.4.1");
    write_bytes(second_ / "qiv_start_2.xml", old_document);
    EXPECT_EQ(run({"verify", url(0)}), 1);
    EXPECT_NE(out_.str().find(url(1) + "qiv_start_2.xml: inna zawartość"), std::string::npos)
        << out_.str();
}

// With keys: a mirror that serves an older release is named, and so is one whose files are not
// the ones its own release describes.
TEST_F(VerifyCommand, NamesTheMirrorWhoseReleaseLagsOrDoesNotDescribeItsFiles) {
    publish(true);
    ASSERT_EQ(sign(), 0);  // release 2 on the first server only, for the same files
    EXPECT_EQ(run({"verify", url(0), "--public-key", kTestPublicKeyA}), 1) << err_.str();
    EXPECT_NE(out_.str().find("Serwer " + url(1) + " ma wydanie 1, a najnowsze to 2"),
              std::string::npos)
        << out_.str();
    EXPECT_EQ(out_.str().find("Serwer " + url(0)), std::string::npos) << out_.str();

    fs::copy_file(first_ / "qiv_start_2.release", second_ / "qiv_start_2.release",
                  fs::copy_options::overwrite_existing);
    EXPECT_EQ(run({"verify", url(0), "--public-key", kTestPublicKeyA}), 0) << out_.str();
    // Signed by a key the workstations do not trust.
    EXPECT_EQ(run({"verify", url(0), "--public-key", kTestPublicKeyB}), 1);
    EXPECT_NE(out_.str().find("Serwer " + url(1) +
                              " nie ma ważnego wydania (wydanie 2 nie ma "
                              "podpisu"),
              std::string::npos)
        << out_.str();

    write_bytes(second_ / "servers.cfg", url(1) + "\r\n");
    EXPECT_EQ(run({"verify", url(0), "--public-key", kTestPublicKeyA}), 1);
    EXPECT_NE(out_.str().find(url(1) + "servers.cfg: inna zawartość"), std::string::npos);
    EXPECT_NE(out_.str().find("; nie zgadza się z wydaniem 2 tego serwera (serwer ma "),
              std::string::npos)
        << out_.str();
    EXPECT_NE(out_.str().find("Serwer " + url(1) + " podaje pliki niezgodne z własnym wydaniem 2"),
              std::string::npos);
}

// push --url: the mirrors written, then verified as verify does, its verdict the exit code.
TEST_F(VerifyCommand, PushVerifiesTheMirrorsItWrote) {
    publish();
    const fs::path repository = dir_.path() / "repository";
    fs::rename(first_, repository);
    ASSERT_EQ(run({"publish", repository.string()}), 0) << err_.str();
    ASSERT_EQ(
        run({"push", repository.string(), first_.string(), second_.string(), "--url", url(0)}), 0)
        << out_.str() << err_.str();
    EXPECT_NE(out_.str().find(url(1)), std::string::npos) << out_.str();
    write_bytes(second_ / "cennik.txt", "stary cennik\r\n");
    EXPECT_EQ(run({"push", repository.string(), first_.string(), "--url", url(0)}), 1);
}

TEST_F(VerifyCommand, UnreachableRepositoryAndWrongAddress) {
    EXPECT_EQ(run({"verify", url(0)}), 1);  // nothing published yet
    EXPECT_NE(err_.str().find("Nie udało się pobrać " + url(0) + "servers.cfg"), std::string::npos)
        << err_.str();
    EXPECT_EQ(run({"verify", "http://127.0.0.1:1"}), 2);
    EXPECT_EQ(run({"verify", "ftp://127.0.0.1/"}), 2);
}

}  // namespace
}  // namespace qiv_start::test
