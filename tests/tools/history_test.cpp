// qiv_repo publish, history, rollback, gc and push on real repository folders.
#include <algorithm>
#include <functional>

#include "core/config/release.h"
#include "core/support/repository_names.h"
#include "qiv_repo/release_check.h"
#include "repository_fixture.h"
#include "support/md5sum.h"
#include "support/test_keys.h"

namespace qiv_start::test {
namespace {

namespace fs = std::filesystem;

class History : public RepositoryTest {
  protected:
    void SetUp() override {
        ASSERT_EQ(run({"new", path(), "--server", "http://a.example/"}), 0);
        write_bytes(dir_.path() / "launcher", "program");
        write("qiv_start_2.xml",
              document("  <hash>" + md5sum_of(dir_.path() / "launcher") +
                       "</hash>\n  <default_file>\n    <name>a.txt</name>\n    <hash/>\n"
                       "  </default_file>\n  <terminal><id>KASA</id><version>1</version>"
                       "<exe_file><name>kasa.exe</name><hash/></exe_file></terminal>\n"));
        write("kasa.exe", "kasa 1");
        write_bytes(dir_.path() / "klucz.pem", test_key_a().to_pem());
    }

    // Publishes a.txt with these bytes, the file replaced as an administrator's copy does; the
    // exit code.
    int publish(const std::string& a, const std::vector<std::string>& extra = {}) {
        fs::remove(repository_ / "a.txt");
        write("a.txt", a);
        std::vector<std::string> arguments = {"publish", path()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return run(arguments);
    }

    std::string object(const std::string& bytes) const {
        return (repository_ / core::object_path(core::describe(bytes).sha256)).string();
    }
    std::uint64_t serial() const {
        return core::parse_release(read("qiv_start_2.release")).value().serial;
    }
    std::string signed_key() const { return (dir_.path() / "klucz.pem").string(); }
};

TEST_F(History, ThreeReleasesRollBackAndGcKeepsWhatTheLastTwoNeed) {
    ASSERT_EQ(publish("pierwszy\n"), 0) << err_.str();
    EXPECT_NE(out_.str().find("dodany:    a.txt"), std::string::npos) << out_.str();
    // Unsigned: the serial and the digests, which a launcher with keys refuses.
    const std::string first = read("qiv_start_2.release");
    EXPECT_EQ(first.find("signature"), std::string::npos);
    EXPECT_EQ(core::verify_release(first, {kTestPublicKeyA}), std::nullopt);
    EXPECT_EQ(core::parse_release(first)->document, core::describe(read("qiv_start_2.xml")));
    EXPECT_NE(read("qiv_start_2.xml").find("</hash>\n  <store value=\"objects/\"/>"),
              std::string::npos)
        << read("qiv_start_2.xml");
    // One file under two names, never a second copy.
    EXPECT_TRUE(fs::equivalent(object("pierwszy\n"), repository_ / "a.txt"));

    ASSERT_EQ(publish("drugi\n", {"--key", signed_key(), "--expires", "30"}), 0) << err_.str();
    EXPECT_NE(
        out_.str().find("Zmiany względem wydania 1:\n  zmieniony: a.txt\n  terminale: KASA 1"),
        std::string::npos)
        << out_.str();
    ASSERT_EQ(publish("trzeci\n", {"--key", signed_key()}), 0) << err_.str();
    EXPECT_EQ(serial(), 3u);
    EXPECT_TRUE(core::verify_release(read("qiv_start_2.release"), {kTestPublicKeyA}));

    ASSERT_EQ(run({"rollback", path(), "--to", "1", "--key", signed_key()}), 0) << err_.str();
    EXPECT_EQ(serial(), 4u);
    EXPECT_EQ(read("a.txt"), "pierwszy\n");
    EXPECT_EQ(read("qiv_start_2.xml"), read("releases/1/qiv_start_2.xml"));
    EXPECT_EQ(read("releases/4/qiv_start_2.release"), read("qiv_start_2.release"));

    ASSERT_EQ(run({"history", path()}), 0);
    const std::string lines = out_.str();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4) << lines;
    for (const char* line : {"\n2  ", "\n3  ", "\n4  "})
        EXPECT_NE(lines.find(line), std::string::npos) << lines;
    EXPECT_NE(lines.find("bez podpisu  KASA 1\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("podpisane    KASA 1  (bieżące)\n"), std::string::npos) << lines;

    // Releases 3 and 4 need "trzeci", "pierwszy" and kasa.exe: only "drugi" goes.
    ASSERT_EQ(run({"gc", path(), "--keep", "2", "--dry-run"}), 0);
    EXPECT_NE(out_.str().find("do usunięcia: " + object("drugi\n")), std::string::npos)
        << out_.str();
    EXPECT_TRUE(fs::exists(object("drugi\n")));
    ASSERT_EQ(run({"gc", path(), "--keep", "2"}), 0);
    EXPECT_NE(out_.str().find("Usunięto 1 obiektów."), std::string::npos) << out_.str();
    for (const char* kept : {"pierwszy\n", "trzeci\n", "kasa 1"})
        EXPECT_TRUE(fs::exists(object(kept))) << kept;
    EXPECT_FALSE(fs::exists(object("drugi\n")));
    // Its objects gone, release 2 cannot come back, and nothing changes.
    EXPECT_EQ(run({"rollback", path(), "--to", "2"}), 1);
    EXPECT_EQ(serial(), 4u);
    EXPECT_EQ(read("a.txt"), "pierwszy\n");
}

// A failure at any step of a publish leaves the folder's release, document and history as they
// were.
TEST_F(History, APublishThatFailsLeavesThePreviousReleaseWhole) {
    ASSERT_EQ(publish("pierwszy\n", {"--key", signed_key()}), 0) << err_.str();
    const std::string record = read("qiv_start_2.release");
    const std::string edited = read("qiv_start_2.xml");
    const std::vector<std::pair<std::string, std::function<void()>>> faults = {
        {"an object that clashes", [&] { write_bytes(fs::path(object("drugi\n")), "inne bajty"); }},
        {"the release's folder taken", [&] { write("releases/2", "plik"); }},
        {"a missing file", [&] { fs::remove(repository_ / "kasa.exe"); }},
        {"a file written over in place, and its object with it",
         [&] {
             fs::remove(repository_ / "a.txt");
             fs::create_hard_link(object("pierwszy\n"), repository_ / "a.txt");
             write("a.txt", "drugi\n");
         }},
    };
    for (const auto& [what, fault] : faults) {
        SCOPED_TRACE(what);
        fs::remove(repository_ / "a.txt");
        write("a.txt", "drugi\n");
        fault();
        EXPECT_EQ(run({"publish", path(), "--key", signed_key()}), 1);
        EXPECT_NE(err_.str().find("Nie opublikowano"), std::string::npos) << err_.str();
        const std::string failure = err_.str();
        EXPECT_EQ(read("qiv_start_2.release"), record);
        EXPECT_EQ(read("qiv_start_2.xml"), edited);
        ASSERT_EQ(run({"history", path()}), 0);
        EXPECT_EQ(out_.str().find("\n2  "), std::string::npos) << out_.str();
        EXPECT_EQ(out_.str().rfind("1  ", 0), 0u) << out_.str();
        fs::remove_all(repository_ / "objects" / core::describe("drugi\n").sha256.substr(0, 2));
        fs::remove_all(repository_ / "releases" / "2");
        write("kasa.exe", "kasa 1");
        if (what.starts_with("a file written over")) {
            EXPECT_NE(failure.find("plik zapisano w miejscu"), std::string::npos) << failure;
        }
    }
    fs::remove(object("pierwszy\n"));
    ASSERT_EQ(publish("drugi\n"), 0) << err_.str();
    EXPECT_EQ(serial(), 2u);
}

// Two folders as mirrors: the same tree as the repository; a second push copies nothing, and a
// push that fails on the way leaves the mirror's release record as it was.
TEST_F(History, PushCopiesEverythingWithTheRecordLast) {
    ASSERT_EQ(publish("pierwszy\n", {"--key", signed_key()}), 0) << err_.str();
    const fs::path one = dir_.path() / "serwer1";
    const fs::path two = dir_.path() / "serwer2";
    ASSERT_EQ(run({"push", path(), one.string(), two.string()}), 0) << err_.str();
    for (const fs::path& mirror : {one, two}) {
        for (const auto& item : fs::recursive_directory_iterator(repository_)) {
            if (!item.is_regular_file())
                continue;
            EXPECT_EQ(read_bytes(mirror / fs::relative(item.path(), repository_)),
                      read_bytes(item.path()))
                << item.path();
        }
    }
    ASSERT_EQ(run({"push", path(), one.string()}), 0);
    EXPECT_NE(out_.str().find("skopiowano plików: 0."), std::string::npos) << out_.str();

    ASSERT_EQ(publish("drugi\n", {"--key", signed_key()}), 0) << err_.str();
    // The mirror's store is a file: nothing of the new release may reach it.
    fs::remove_all(two / "objects");
    write_bytes(two / "objects", "plik");
    EXPECT_EQ(run({"push", path(), two.string()}), 1);
    EXPECT_EQ(core::parse_release(read_bytes(two / "qiv_start_2.release"))->serial, 1u);
    EXPECT_EQ(read_bytes(two / "a.txt"), "pierwszy\n");
}

}  // namespace
}  // namespace qiv_start::test
