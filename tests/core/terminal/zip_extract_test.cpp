#include "core/terminal/zip_extract.h"

#include <gtest/gtest.h>

#include "core/support/error.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace qiv_start::core {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;
using test::TZipMember;

class ZipExtract : public ::testing::Test {
  protected:
    // Extracts an archive of these members into the directory "cel".
    void extract(const std::vector<TZipMember>& members) {
        test::write_zip(archive_, members);
        extract_missing_members(archive_.string(), target_.string());
    }

    std::string failure_of(const std::vector<TZipMember>& members) {
        try {
            extract(members);
        } catch (const TError& failure) {
            return failure.what();
        }
        return "no error";
    }

    test::TTempDir dir_;
    fs::path archive_ = dir_.path() / "archiwum.zip";
    fs::path target_ = dir_.path() / "cel";
};

TEST_F(ZipExtract, NamesAreUtf8WhenFlaggedAndCodePage437Otherwise) {
    extract({{"\xC5\xBC\xC3\xB3\xC5\x82w.txt", "utf", ZIP_FL_ENC_UTF_8},
             {"\x81"
              "ber.txt",
              "cp437", ZIP_FL_ENC_CP437},
             {"\xA2"
              "wiczenie\\\x87"
              "a.txt",
              "cp437 in a directory", ZIP_FL_ENC_CP437}});

    EXPECT_EQ(read_bytes(target_ / u8"żółw.txt"), "utf");
    EXPECT_EQ(read_bytes(target_ / u8"über.txt"), "cp437");
    EXPECT_EQ(read_bytes(target_ / u8"ówiczenie" / u8"ça.txt"), "cp437 in a directory");
}

TEST_F(ZipExtract, DirectoriesAreCreatedAndBothMethodsRead) {
    const std::string large(300000, 'x');
    extract({{"puste/", ""},
             {"dane\\szablony\\faktura.txt", "faktura", ZIP_FL_ENC_GUESS, ZIP_CM_STORE},
             {"dane/duzy.bin", large, ZIP_FL_ENC_GUESS, ZIP_CM_DEFLATE}});

    EXPECT_TRUE(fs::is_directory(target_ / "puste"));
    EXPECT_EQ(read_bytes(target_ / "dane" / "szablony" / "faktura.txt"), "faktura");
    EXPECT_EQ(read_bytes(target_ / "dane" / "duzy.bin"), large);
}

TEST_F(ZipExtract, ExistingFilesAreNeverOverwritten) {
    test::write_bytes(target_ / "a.txt", "lokalny");
    extract({{"a.txt", "z archiwum"}, {"b.txt", "b"}});

    EXPECT_EQ(read_bytes(target_ / "a.txt"), "lokalny");
    EXPECT_EQ(read_bytes(target_ / "b.txt"), "b");
}

// Also names that Windows would not store as plain files (a device, a trailing dot).
TEST_F(ZipExtract, MembersThatWouldLeaveTheTargetAreRefused) {
    for (const std::string name :
         {"../poza.txt", "dane\\..\\..\\poza.txt", "/tmp/poza.txt", "C:\\poza.txt", "..",
          "dane/../../poza.txt", "dane\\nul.txt", "raport./a.txt"}) {
        fs::remove_all(target_);
        EXPECT_EQ(failure_of({{"dobry.txt", "ok"}, {name, "zły"}}),
                  "Archiwum \"" + archive_.string() + "\" zawiera plik \"" + name +
                      "\" spoza katalogu docelowego.");
        EXPECT_FALSE(fs::exists(dir_.path() / "poza.txt")) << name;
        EXPECT_FALSE(fs::exists(target_ / "dobry.txt")) << name;
    }
}

// A link in the target may lead around it; no member is written through one that leads out.
TEST_F(ZipExtract, MembersAreNotWrittenThroughLinksThatLeadOut) {
    if (!test::make_folder_with_links(target_))
        GTEST_SKIP() << "no symbolic links here";
    for (const std::string name : {"out/nowy.txt", "plik"}) {
        EXPECT_EQ(failure_of({{"dobry.txt", "ok"}, {name, "zły"}}),
                  "Archiwum \"" + archive_.string() + "\" zawiera plik \"" + name +
                      "\" spoza katalogu docelowego.");
        EXPECT_FALSE(fs::exists(target_ / "dobry.txt")) << name;
    }
    EXPECT_FALSE(fs::exists(dir_.path() / "poza" / "nowy.txt"));
    extract({{"wew/nowy.txt", "ok"}});
    EXPECT_EQ(read_bytes(target_ / "dane" / "nowy.txt"), "ok");
}

TEST_F(ZipExtract, SymbolicLinksAreRefusedAndNotCreated) {
    const std::string failure = failure_of(
        {{"dobry.txt", "ok"}, {"link", "/etc/passwd", ZIP_FL_ENC_GUESS, ZIP_CM_STORE, 0120777}});

    EXPECT_NE(failure.find("dowiązanie symboliczne \"link\""), std::string::npos) << failure;
    EXPECT_FALSE(fs::exists(fs::symlink_status(target_ / "link")));
    EXPECT_FALSE(fs::exists(target_ / "dobry.txt"));
}

TEST_F(ZipExtract, UnixPermissionsAreKeptWithoutSpecialBits) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files carry no Unix permission bits";
#endif
    extract({{"program", "#!/bin/sh\n", ZIP_FL_ENC_GUESS, ZIP_CM_DEFLATE, 0104755},
             {"tylko_do_odczytu.txt", "r", ZIP_FL_ENC_GUESS, ZIP_CM_DEFLATE, 0100444}});

    const auto program = fs::status(target_ / "program").permissions();
    EXPECT_NE(program & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(program & fs::perms::set_uid, fs::perms::none);
    EXPECT_EQ(fs::status(target_ / "tylko_do_odczytu.txt").permissions() & fs::perms::owner_write,
              fs::perms::none);
}

TEST_F(ZipExtract, OtherCompressionMethodsAndNonArchivesFail) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows build's libzip cannot write the bzip2 member this test needs";
#endif
    EXPECT_EQ(failure_of({{"a.bz2.txt", "bzip2", ZIP_FL_ENC_GUESS, ZIP_CM_BZIP2}}),
              "Archiwum \"" + archive_.string() +
                  "\": plik \"a.bz2.txt\" jest skompresowany nieobsługiwaną metodą 12.");

    test::write_bytes(archive_, "<html>to nie jest archiwum</html>");
    EXPECT_THROW(extract_missing_members(archive_.string(), target_.string()), TError);
    fs::remove(archive_);
    EXPECT_THROW(extract_missing_members(archive_.string(), target_.string()), TError);
}

// A small archive that claims too many members or too many bytes is refused before anything is
// written; the ceilings here are small stand-ins for the real ones.
TEST_F(ZipExtract, ArchivesBeyondTheCeilingsAreRefusedWithNothingExtracted) {
    const TArchiveLimits limits{3, 100000};
    test::write_zip(archive_, {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}, {"d.txt", "d"}});
    EXPECT_THROW(extract_missing_members(archive_.string(), target_.string(), limits), TError);
    EXPECT_FALSE(fs::exists(target_));

    test::write_zip(archive_, {{"a.txt", "a"}, {"zera.bin", std::string(200000, '\0')}});
    try {
        extract_missing_members(archive_.string(), target_.string(), limits);
        ADD_FAILURE() << "an archive that inflates past the ceiling was extracted";
    } catch (const TError& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "Archiwum \"" + archive_.string() +
                      "\" po rozpakowaniu zajęłoby 200001 bajtów (dopuszczalne 100000).");
    }
    EXPECT_FALSE(fs::exists(target_));
    EXPECT_LT(fs::file_size(archive_), 2000u);

    test::write_zip(archive_, {{"a.txt", "a"}, {"b.txt", std::string(99999, 'b')}});
    extract_missing_members(archive_.string(), target_.string(), limits);
    EXPECT_EQ(fs::file_size(target_ / "b.txt"), 99999u);
}

// The ceilings add up the sizes the archive records; a member whose data runs past its recorded
// size is stopped there and not saved.
TEST_F(ZipExtract, MemberLargerThanItsRecordedSizeFailsAndIsNotSaved) {
    for (const std::int32_t method : {ZIP_CM_DEFLATE, ZIP_CM_STORE}) {
        test::write_zip(archive_, {{"a.txt", std::string(200000, 'a'), ZIP_FL_ENC_GUESS, method}});
        std::string bytes = read_bytes(archive_);
        const auto record_size = [&bytes](std::size_t at) {
            bytes.replace(at, 4, std::string("\x0A\0\0\0", 4));  // 10, little-endian
        };
        record_size(22);  // the local header's uncompressed size
        record_size(bytes.find(std::string("PK\x01\x02", 4)) + 24);  // the central directory's
        test::write_bytes(archive_, bytes);
        try {
            extract_missing_members(archive_.string(), target_.string());
            ADD_FAILURE() << "a member larger than it says was extracted, method " << method;
        } catch (const TError& failure) {
            EXPECT_EQ(std::string(failure.what()),
                      "Archiwum \"" + archive_.string() +
                          "\": plik \"a.txt\" po rozpakowaniu jest większy niż zapisany w "
                          "archiwum rozmiar 10 bajtów.");
        }
        EXPECT_TRUE(!fs::exists(target_) || fs::is_empty(target_)) << method;
    }
}

// Members follow the same rule as the configuration's paths: ".." may not climb out.
TEST_F(ZipExtract, DotDotThatStaysInsideIsResolvedAndNothingLandsBesideTheTarget) {
    extract({{"a/../b.txt", "b"}});
    EXPECT_EQ(read_bytes(target_ / "b.txt"), "b");
    EXPECT_NE(failure_of({{"a/../../c.txt", "c"}}), "no error");
    EXPECT_NE(failure_of({{"a\\..\\..\\c.txt", "c"}}), "no error");
    EXPECT_FALSE(fs::exists(dir_.path() / "c.txt"));
}

}  // namespace
}  // namespace qiv_start::core

namespace qiv_start::core {
namespace {

TEST_F(ZipExtract, CheckingAnArchiveRefusesWhatExtractionRefusesAndWritesNothing) {
    const auto check = [&](const std::vector<TZipMember>& members) -> std::string {
        test::write_zip(archive_, members);
        try {
            check_archive(archive_.string());
        } catch (const TError& failure) {
            return failure.what();
        }
        return "no error";
    };
    EXPECT_EQ(check({{"a/b.txt", "x"}, {"a/", ""}}), "no error");
    EXPECT_NE(check({{"ok.txt", "x"}, {"C:\\poza.txt", "x"}}).find("spoza katalogu"),
              std::string::npos);
    EXPECT_NE(check({{"link", "/etc/passwd", ZIP_FL_ENC_GUESS, ZIP_CM_STORE, 0120777}})
                  .find("dowiązanie symboliczne"),
              std::string::npos);
#ifndef _WIN32  // the Windows build's libzip cannot write a bzip2 member
    EXPECT_NE(check({{"b.txt", "x", ZIP_FL_ENC_GUESS, ZIP_CM_BZIP2}}).find("metodą"),
              std::string::npos);
#endif
    test::write_bytes(archive_, "PK\x03\x04 obcięte");
    EXPECT_THROW(check_archive(archive_.string()), TError);
    EXPECT_FALSE(fs::exists(target_));
}

}  // namespace
}  // namespace qiv_start::core
