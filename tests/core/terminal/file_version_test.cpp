#include "core/terminal/file_version.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/support/error.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace qiv_start::core {
namespace {

const std::string kNotFound = "Nie znaleziono informacji o wersi w pliku";
const std::string kUnusable = "Błąd przy przetwarzaniu informacji o wersji";

std::string fixture(const std::string& name) {
    return std::string(QIV_TEST_DATA) + "/pe/" + name;
}

// The message of the TError that the call raises, or "" when it returns.
std::string error_of(const std::function<std::string()>& call) {
    try {
        call();
    } catch (const TError& e) {
        return e.what();
    }
    return "";
}

std::string in_ansi_code_page(const std::string& text) {
    const unsigned code_page = platform::ansi_code_page();
    return platform::decode_bytes(platform::encode_text(text, code_page), code_page);
}

TEST(FileVersion, ReadsFileVersionOfTheOnlyTranslation) {
    EXPECT_EQ(get_file_version(fixture("one_translation.exe")), "1.2.3.4");
}

TEST(FileVersion, FirstListedTranslationWinsOverTheFirstStringTable) {
    // Its table comes second and spells its key in upper case.
    EXPECT_EQ(get_file_version(fixture("two_translations.exe")),
              in_ansi_code_page("5.6.7.8 próbna"));
}

TEST(FileVersion, FilesWithoutVersionResourceAreNotFound) {
    test::TTempDir dir;
    test::write_bytes(dir.file("notes.txt"), "MZ is how this text begins\r\n");
    EXPECT_EQ(error_of([&] { return get_file_version(dir.file("notes.txt")); }), kNotFound);
    EXPECT_EQ(error_of([&] { return get_file_version(dir.file("missing.exe")); }), kNotFound);
    EXPECT_EQ(error_of([&] { return get_file_version(dir.path().string()); }), kNotFound);
    EXPECT_EQ(error_of([] { return get_file_version(fixture("no_version.exe")); }), kNotFound);
}

TEST(FileVersion, FirstTranslationWithoutFileVersionIsUnusable) {
    // Another translation's table holds one; only the first translation counts.
    EXPECT_EQ(error_of([] { return get_file_version(fixture("no_file_version.exe")); }), kUnusable);
}

// Offset of the first occurrence of text as UTF-16 LE in bytes.
std::size_t find_utf16(const std::string& bytes, const std::string& ascii) {
    std::string wide;
    for (const char c : ascii)
        wide += std::string{c, '\0'};
    return bytes.find(wide);
}

TEST(FileVersion, EveryTruncatedCopyFailsCleanlyUntilTheTextIsWhole) {
    const std::string image = test::read_bytes(fixture("one_translation.exe"));
    const std::size_t text_end = find_utf16(image, "1.2.3.4") + 14;
    ASSERT_NE(text_end, std::string::npos + 14);
    std::size_t shortest_good = image.size() + 1;
    for (std::size_t length = 0; length <= image.size(); ++length) {
        const std::string prefix = image.substr(0, length);
        const std::string error = error_of([&] { return get_version_from_bytes(prefix); });
        if (error.empty()) {
            EXPECT_EQ(get_version_from_bytes(prefix), "1.2.3.4");
            shortest_good = std::min(shortest_good, length);
        } else {
            EXPECT_TRUE(error == kNotFound || error == kUnusable) << length << ": " << error;
            ASSERT_GT(shortest_good, length) << "a longer copy failed after a shorter one worked";
        }
    }
    EXPECT_GE(shortest_good, text_end);
}

TEST(FileVersion, TruncatedFileOnDiskIsNotFound) {
    test::TTempDir dir;
    const std::string image = test::read_bytes(fixture("one_translation.exe"));
    test::write_bytes(dir.file("cut.exe"), image.substr(0, image.size() / 2));
    EXPECT_EQ(error_of([&] { return get_file_version(dir.file("cut.exe")); }), kNotFound);
}

TEST(FileVersion, CorruptedVersionBlockIsUnusable) {
    std::string image = test::read_bytes(fixture("one_translation.exe"));
    const std::size_t key = find_utf16(image, "VS_VERSION_INFO");
    ASSERT_NE(key, std::string::npos);
    // The root block claims more bytes than the resource holds.
    image[key - 6] = '\xFF';
    image[key - 5] = '\xFF';
    EXPECT_EQ(error_of([&] { return get_version_from_bytes(image); }), kUnusable);
}

}  // namespace
}  // namespace qiv_start::core
