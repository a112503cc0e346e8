// qiv_repo hash on real repository folders: the digests change, nothing else does.
#include "core/config/config_prod.h"
#include "core/support/md5.h"
#include "platform/text.h"
#include "qiv_repo/parallel_md5.h"
#include "repository_fixture.h"
#include "support/md5sum.h"

namespace qiv_start::test {
namespace {

class HashCommand : public RepositoryTest {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(repository_);
        write("a.txt", "pierwszy plik\n");
        write("b.bin", std::string(300000, '\x7F'));
        write("c.txt", "");
    }
    std::string md5(const std::string& name) const { return md5sum_of(repository_ / name); }
};

// Comments, tabs, CR LF, a prefixed element, an empty tag, a lower-case digest and a file entry
// without <hash> at all.
const std::string kBody =
    "  <!-- pliki wspólne -->\r\n"
    "  <default_file>\r\n"
    "\t<name>a.txt</name>   <hash>0123456789abcdef0123456789abcdef</hash>\r\n"
    "  </default_file>\r\n"
    "  <default_file><name>b.bin</name><hash/></default_file>\r\n"
    "  <q:default_file xmlns:q=\"http://www.qiv.pl/qiv_start_2\">\r\n"
    "      <q:name>c.txt</q:name>\r\n"
    "      <q:target_path>dane</q:target_path>\r\n"
    "  </q:default_file>\r\n";

TEST_F(HashCommand, RewritesOnlyTheDigestsAndTheLauncherReadsThem) {
    const std::string before = document(kBody);
    write("qiv_start_2.xml", before);

    ASSERT_EQ(run({"hash", path()}), 0) << err_.str();

    std::string expected = before;
    const auto replace = [&](const std::string& from, const std::string& to) {
        expected.replace(expected.find(from), from.size(), to);
    };
    replace("0123456789abcdef0123456789abcdef", md5("a.txt"));
    replace("<hash/>", "<hash>" + md5("b.bin") + "</hash>");
    replace("<q:target_path>dane</q:target_path>",
            "<q:target_path>dane</q:target_path>\r\n      <q:hash>" + md5("c.txt") + "</q:hash>");
    EXPECT_EQ(read("qiv_start_2.xml"), expected);

    const auto config = core::TConfigProd::from_document(read("qiv_start_2.xml"), 65001);
    const auto files = config->get_default_files();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0]->get_hash(), md5("a.txt"));
    EXPECT_EQ(files[1]->get_hash(), md5("b.bin"));
    EXPECT_EQ(files[2]->get_hash(), md5("c.txt"));
    EXPECT_NE(out_.str().find("0123456789abcdef0123456789abcdef -> " + md5("a.txt")),
              std::string::npos)
        << out_.str();

    // A second run finds everything current and leaves the file alone.
    ASSERT_EQ(run({"hash", path()}), 0);
    EXPECT_NE(out_.str().find("są aktualne"), std::string::npos);
    EXPECT_EQ(read("qiv_start_2.xml"), expected);
}

TEST_F(HashCommand, LauncherDigestGoesIntoTheRootHashAndDryRunWritesNothing) {
    write("launcher", "program");
    const std::string before = document("  <hash>STARY</hash>\n");
    write("qiv_start_2.xml", before);

    ASSERT_EQ(run({"hash", path(), "--launcher", (repository_ / "launcher").string(), "--dry-run"}),
              0);
    EXPECT_NE(out_.str().find("STARY -> " + md5("launcher")), std::string::npos) << out_.str();
    EXPECT_EQ(read("qiv_start_2.xml"), before);

    ASSERT_EQ(run({"hash", path(), "--launcher", (repository_ / "launcher").string()}), 0);
    EXPECT_EQ(core::TConfigProd::from_document(read("qiv_start_2.xml"), 65001)->get_hash(),
              md5("launcher"));

    // A launcher that updates itself under a signed release needs its SHA-256 too.
    ASSERT_EQ(run({"hash", path(), "--launcher", (repository_ / "launcher").string(), "--sha256"}),
              0);
    EXPECT_EQ(core::TConfigProd::from_document(read("qiv_start_2.xml"), 65001)->get_sha256(),
              core::get_file_digests((repository_ / "launcher").string(), true).sha256);
}

TEST_F(HashCommand, Utf16DocumentKeepsItsEncodingAndByteOrderMark) {
    const std::string text = document(
        "  <default_file><name>a.txt</name><hash></hash>"
        "<description>Zażółć</description></default_file>\n",
        "");
    write("qiv_start_2.xml", "\xFF\xFE" + platform::encode_text(text, platform::kCodePageUtf16Le));

    ASSERT_EQ(run({"hash", path()}), 0) << err_.str();

    std::string expected = text;
    expected.replace(expected.find("<hash></hash>"), 13, "<hash>" + md5("a.txt") + "</hash>");
    EXPECT_EQ(read("qiv_start_2.xml"),
              "\xFF\xFE" + platform::encode_text(expected, platform::kCodePageUtf16Le));
}

TEST_F(HashCommand, BadInputChangesNothing) {
    // A missing file: no digest is written, not even the ones that could be.
    const std::string missing = document(
        "  <default_file><name>a.txt</name></default_file>\n"
        "  <default_file><name>brak.txt</name></default_file>\n");
    write("qiv_start_2.xml", missing);
    EXPECT_EQ(run({"hash", path()}), 1);
    EXPECT_NE(err_.str().find("brak.txt"), std::string::npos) << err_.str();
    EXPECT_EQ(read("qiv_start_2.xml"), missing);

    // Documents that the launcher refuses are never rewritten.
    for (const std::string& refused :
         {document("  <default_file><name>a.txt</name>\n"),
          std::string("<qiv_start><default_file><name>a.txt</name></default_file></qiv_start>"),
          document("  <terminal><dll_lib/></terminal>\n  <default_file><name>a.txt</name>"
                   "</default_file>\n")}) {
        write("qiv_start_2.xml", refused);
        EXPECT_EQ(run({"hash", path()}), 1) << refused;
        EXPECT_NE(err_.str().find("bez zmian"), std::string::npos) << err_.str();
        EXPECT_EQ(read("qiv_start_2.xml"), refused);
    }

    // A name that leaves the folder is not read.
    const std::string outside = document("  <default_file><name>..\\a.txt</name></default_file>\n");
    write("qiv_start_2.xml", outside);
    EXPECT_EQ(run({"hash", path()}), 1);
    EXPECT_EQ(read("qiv_start_2.xml"), outside);
}

TEST_F(HashCommand, FailedWriteLeavesTheOldDocument) {
    const std::string before = document("  <default_file><name>a.txt</name></default_file>\n");
    write("qiv_start_2.xml", before);
    // Every write of the process to a file fails for its size limit (EFBIG instead of the
    // signal); its messages go through a pipe.
    std::string output;
    const int code = shell_output("ulimit -f 0; trap '' XFSZ; exec " + quoted(QIV_REPO) + " hash " +
                                      quoted(repository_) + " 2>&1",
                                  output);
    EXPECT_EQ(code, 1);
    EXPECT_NE(output.find("Nie udało się zapisać"), std::string::npos) << output;
    EXPECT_NE(output.find("pozostał bez zmian"), std::string::npos) << output;
    EXPECT_EQ(read("qiv_start_2.xml"), before);
    for (const auto& entry : std::filesystem::directory_iterator(repository_))
        EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
}

TEST_F(HashCommand, WrongUseIsExitCodeTwo) {
    EXPECT_EQ(run({"hash", (dir_.path() / "brak").string()}), 2);
    EXPECT_EQ(run({"hash", path(), "--launcher", (dir_.path() / "brak.exe").string()}), 2);
    EXPECT_EQ(run({"hash"}), 2);
}

TEST(ParallelDigests, EveryFileGetsItsOwnDigestWhateverTheThreads) {
    TTempDir dir;
    std::vector<std::string> paths;
    for (int i = 0; i < 9; ++i) {
        paths.push_back(dir.file("f" + std::to_string(i)));
        write_bytes(paths.back(), std::string(static_cast<std::size_t>(i) * 70001, char('a' + i)));
    }
    paths.push_back(dir.path().string());  // a folder cannot be read as a file
    for (unsigned threads : {1u, 4u, 0u}) {
        const auto digests = repo::digest_files(paths, threads);
        ASSERT_EQ(digests.size(), paths.size());
        for (std::size_t i = 0; i + 1 < paths.size(); ++i)
            EXPECT_EQ(digests[i].digest, md5sum_of(paths[i])) << i << " with " << threads;
        EXPECT_TRUE(digests.back().digest.empty());
        EXPECT_FALSE(digests.back().error.empty());
    }
}

}  // namespace
}  // namespace qiv_start::test
