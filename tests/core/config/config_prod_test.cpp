#include "core/config/config_prod.h"
#include "core/config/config_values.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/config/config_test_fixture.h"
#include "core/support/error.h"
#include "platform/text.h"

namespace qiv_start::core {
namespace {

using test::qiv_document;
using test::TConfigSandbox;
using test::TConfigUnderTest;

std::string file_names(const TFileConfigs& files) {
    std::string names;
    for (const auto& file : files)
        names += file->get_name() + ";";
    return names;
}

TEST(IntegerText, AcceptsDecimalAndHexadecimalWithSignAndLeadingBlanks) {
    EXPECT_EQ(integer_from_text("120"), 120);
    EXPECT_EQ(integer_from_text("   120"), 120);
    EXPECT_EQ(integer_from_text("+7"), 7);
    EXPECT_EQ(integer_from_text("-16777201"), static_cast<std::int32_t>(0xFF00000F));
    EXPECT_EQ(integer_from_text("2147483647"), 2147483647);
    EXPECT_EQ(integer_from_text("-2147483648"), INT32_MIN);
    EXPECT_EQ(integer_from_text("0x78"), 120);
    EXPECT_EQ(integer_from_text("0X78"), 120);
    EXPECT_EQ(integer_from_text("x78"), 120);
    EXPECT_EQ(integer_from_text("$ff"), 255);
    EXPECT_EQ(integer_from_text("$FFFFFFFF"), -1);
    EXPECT_EQ(integer_from_text("$000000001"), 1);  // the value fits in 32 bits
    EXPECT_EQ(integer_from_text("-$10"), -16);
}

TEST(IntegerText, RefusesEverythingElse) {
    for (const char* text :
         {"", " ", "+", "-", "$", "0x", "120px", "120 ", "abc", "\t1", "1.5", "2147483648",
          "-2147483649", "$100000000", "0x-1", "--1", "99999999999"}) {
        EXPECT_EQ(integer_from_text(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(ColorText, IdentifiersIgnoreCaseAndNumbersAreTakenAsIs) {
    EXPECT_EQ(color_from_text("clbtnface"), static_cast<TColor>(0xFF00000F));
    EXPECT_EQ(color_from_text("CLRED"), 0x0000FF);
    EXPECT_EQ(color_from_text("clMedGray"), 0xA4A0A0);
    EXPECT_EQ(color_from_text("clHotLight"), static_cast<TColor>(0xFF00001A));
    EXPECT_EQ(color_from_text("clMenuBar"), static_cast<TColor>(0xFF00001E));
    EXPECT_EQ(color_from_text("clNone"), 0x1FFFFFFF);
    EXPECT_EQ(color_from_text("clDefault"), 0x20000000);
    EXPECT_EQ(color_from_text("$0000FF"), 0x0000FF);
    EXPECT_EQ(color_from_text("-16777201"), static_cast<TColor>(0xFF00000F));
    EXPECT_EQ(color_from_text("$FF00000F"), static_cast<TColor>(0xFF00000F));
    try {
        color_from_text("red");
        ADD_FAILURE() << "red was taken as a colour";
    } catch (const TError& failure) {
        EXPECT_NE(std::string(failure.what()).find("\"red\""), std::string::npos);
    }
}

class ConfigGetters : public ::testing::Test {
  protected:
    TConfigSandbox sandbox;
};

TEST_F(ConfigGetters, SizesFallBackToTheirDefaultsOnlyForAPresentValue) {
    const auto config = [](const std::string& width) {
        return TConfigUnderTest(qiv_document("<btnWidth " + width +
                                             "/><btnHeight value=\"\"/><margin value=\"x\"/>"
                                             "<topMargin value=\"\"/><textSize value=\"\"/>"
                                             "<btnTextSize value=\"\"/>"))
            .config;
    };
    EXPECT_EQ(config("value=\"abc\"")->get_btn_width(), 1000);
    EXPECT_EQ(config("value=\"\"")->get_btn_width(), 1000);
    EXPECT_EQ(config("value=\" 120\"")->get_btn_width(), 120);
    EXPECT_EQ(config("value=\"0x78\"")->get_btn_width(), 120);
    EXPECT_EQ(config("value=\"120px\"")->get_btn_width(), 1000);
    EXPECT_THROW(config("")->get_btn_width(), TError);

    const auto defaults = config("value=\"\"");
    EXPECT_EQ(defaults->get_btn_height(), 30);
    EXPECT_EQ(defaults->get_margin(), 10);
    EXPECT_EQ(defaults->get_top_margin(), 10);
    EXPECT_EQ(defaults->get_text_size(), 15);
    EXPECT_EQ(defaults->get_btn_text_size(), 15);
}

TEST_F(ConfigGetters, ColoursAndTextsComeFromTheirElements) {
    auto config = TConfigUnderTest(
                      qiv_document("<hash>H</hash><admin_email>a@b</admin_email><link>L</link>"
                                   "<clForm value=\"clWhite\"/><clText value=\"0\"/>"
                                   "<clLink value=\"clBlue\"/><clBtnNormal value=\"clbtnface\"/>"
                                   "<clBtnHighlight value=\"$0000FF\"/>"
                                   "<clBtnText value=\"-16777201\"/><clBtnFrame value=\"red\"/>"))
                      .config;
    EXPECT_EQ(config->get_hash(), "H");
    EXPECT_EQ(config->get_admin_email(), "a@b");
    EXPECT_EQ(config->get_page_url(), "L");
    EXPECT_EQ(config->get_color_form(), 0xFFFFFF);
    EXPECT_EQ(config->get_color_text(), 0);
    EXPECT_EQ(config->get_color_link(), 0xFF0000);
    EXPECT_EQ(config->get_color_btn_normal(), static_cast<TColor>(0xFF00000F));
    EXPECT_EQ(config->get_color_btn_highlight(), 0x0000FF);
    EXPECT_EQ(config->get_color_btn_text(), static_cast<TColor>(0xFF00000F));
    EXPECT_THROW(config->get_color_btn_frame(), TError);
}

// A report's name is asked of the servers: one that leaves the repository is never sent.
TEST_F(ConfigGetters, AReportNameMustLieInsideTheRepository) {
    const auto report = [](const std::string& attributes) {
        return TConfigUnderTest(qiv_document("<report " + attributes + "/>")).config->get_report();
    };
    EXPECT_EQ(TConfigUnderTest(qiv_document("")).config->get_report(), std::nullopt);
    EXPECT_EQ(report("value=\"qiv_start_2.report\"")->name, "qiv_start_2.report");
    EXPECT_TRUE(report("value=\"qiv_start_2.report\"")->host_name);
    EXPECT_FALSE(report("value=\"r/raport.txt\" host_name=\"false\"")->host_name);
    for (const char* bad : {"", "/raport", "../raport", "r/../raport", "r\\raport", "nul",
                            "http://inny.example/raport", "r//raport"})
        EXPECT_THROW(report(std::string("value=\"") + bad + "\""), TError) << bad;
}

TEST_F(ConfigGetters, TerminalFilesAreOwnFilesThenNamedDllsThenTheExecutable) {
    auto config = TConfigUnderTest(
                      qiv_document("<dll><name>B</name><file><name>b.dll</name></file></dll>"
                                   "<terminal><id>T</id><exe_file><name>t.exe</name></exe_file>"
                                   "<dll_lib>A</dll_lib><file><name>1.txt</name></file>"
                                   "<dll_lib>B</dll_lib><file><name>2.txt</name></file>"
                                   "<dll_lib>missing</dll_lib></terminal>"
                                   "<dll><name>A</name><file><name>a.dll</name></file></dll>"
                                   "<dll><name>A</name><file><name>later.dll</name></file></dll>"
                                   "<terminal><exe_file><name>only.exe</name></exe_file></terminal>"
                                   "<terminal/>"))
                      .config;
    const auto terminals = config->get_terminals();
    ASSERT_EQ(terminals.size(), 3u);
    const auto files = terminals[0]->get_files();
    EXPECT_EQ(file_names(files), "1.txt;2.txt;a.dll;b.dll;t.exe;");
    EXPECT_EQ(file_names(terminals[1]->get_files()), "only.exe;");

    // No exe_file: one entry whose texts are all empty.
    const auto bare = terminals[2]->get_files();
    ASSERT_EQ(bare.size(), 1u);
    EXPECT_EQ(bare[0]->get_name(), "");
    EXPECT_EQ(bare[0]->get_hash(), "");
    EXPECT_EQ(bare[0]->get_relative_target_path(), "");
    EXPECT_FALSE(bare[0]->unzip());

    // Built once per terminal object; every get_terminals gives new objects with their own list.
    EXPECT_EQ(terminals[0]->get_files(), files);
    const auto again = config->get_terminals()[0]->get_files();
    EXPECT_NE(again[0], files[0]);
    EXPECT_EQ(file_names(again), file_names(files));
}

TEST_F(ConfigGetters, AnEmptyDllLibFailsTheFileList) {
    auto config = TConfigUnderTest(qiv_document("<terminal><dll_lib/></terminal>")).config;
    EXPECT_THROW(config->get_terminals()[0]->get_files(), TError);
}

TEST_F(ConfigGetters, FileConfigurationsReadTheirDescription) {
    auto config = TConfigUnderTest(
                      qiv_document("<default_file><name>a.zip</name><hash>H</hash>"
                                   "<target_path>lib\\x</target_path><source_path>s</source_path>"
                                   "<unzip>TRUE</unzip><sha256>AB12</sha256></default_file>"
                                   "<default_file/>"))
                      .config;
    const auto files = config->get_default_files();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0]->get_name(), "a.zip");
    EXPECT_EQ(files[0]->get_hash(), "H");
    EXPECT_EQ(files[0]->get_relative_target_path(), "lib\\x");
    EXPECT_EQ(files[0]->get_relative_source_path(), "s");
    EXPECT_TRUE(files[0]->unzip());
    EXPECT_EQ(files[0]->get_sha256(), "AB12");
    EXPECT_FALSE(files[1]->unzip());
    EXPECT_EQ(files[1]->get_sha256(), "");
    EXPECT_NE(config->get_default_files()[0], files[0]);
}

// The value becomes part of every request path: it must name a folder inside the repository.
TEST_F(ConfigGetters, TheStoreIsAFolderInsideTheRepositoryOrRefused) {
    const struct {
        const char* element;
        std::optional<std::string> folder;  // nothing: refused
    } cases[] = {
        {"", std::nullopt},  // no element: no store, nothing refused
        {"<store value=\"objects/\"/>", "objects/"},
        {"<store value=\"objects\"/>", "objects/"},
        {"<store value=\"repo.v2/obj_1-a/\"/>", "repo.v2/obj_1-a/"},
        {"<store/>", std::nullopt},
        {"<store value=\"\"/>", std::nullopt},
        {"<store value=\"/objects/\"/>", std::nullopt},
        {"<store value=\"../objects/\"/>", std::nullopt},
        {"<store value=\"a/../../objects/\"/>", std::nullopt},
        {"<store value=\"./objects/\"/>", std::nullopt},
        {"<store value=\"objects//\"/>", std::nullopt},
        {"<store value=\"objects\\\"/>", std::nullopt},
        {"<store value=\"https://example.com/objects/\"/>", std::nullopt},
        {"<store value=\"%2e%2e/objects/\"/>", std::nullopt},
        {"<store value=\"objects/?x\"/>", std::nullopt},
        {"<store value=\"my objects/\"/>", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.element);
        auto config = TConfigUnderTest(qiv_document(c.element)).config;
        if (c.folder || !*c.element) {
            EXPECT_EQ(config->get_store(), c.folder);
        } else {
            EXPECT_THROW(config->get_store(), TError);
        }
    }
}

TEST_F(ConfigGetters, AccessByAllIgnoresLetterCaseButNothingElse) {
    auto config = TConfigUnderTest(qiv_document("<terminal><access_mode value=\"All\"/></terminal>"
                                                "<terminal><access_mode value=\"ALL\"/></terminal>"
                                                "<terminal><access_mode value=\"all \"/></terminal>"
                                                "<terminal><access_mode value=\"\"/></terminal>"
                                                "<terminal><access_mode/></terminal><terminal/>"))
                      .config;
    const auto terminals = config->get_terminals();
    const bool expected[] = {true, true, false, false, false, false};
    ASSERT_EQ(terminals.size(), 6u);
    for (std::size_t i = 0; i < terminals.size(); ++i) {
        EXPECT_EQ(terminals[i]->is_accessed_by_all(), expected[i]) << "terminal " << i;
    }
}

TEST_F(ConfigGetters, RestrictedNetworksKeepDocumentOrderAndAreReadOnce) {
    TConfigUnderTest setup(qiv_document(
        "<network mask=\"255.0.0.0\" ip=\"10.0.0.0\"/><hash/><network ip=\"192.168.1.0\"/>"));
    const auto networks = setup.config->get_restricted_networks();
    ASSERT_EQ(networks.size(), 2u);
    EXPECT_EQ(networks[0].network_mask, "255.0.0.0");
    EXPECT_EQ(networks[0].network_address, "10.0.0.0");
    EXPECT_EQ(networks[1].network_mask, "");
    EXPECT_EQ(networks[1].network_address, "192.168.1.0");
    EXPECT_EQ(setup.config->get_restricted_networks().size(), 2u);
    EXPECT_EQ(setup.downloader->requests.size(), 1u);
}

TEST_F(ConfigGetters, NamesWrittenInUtf8ComeBackAsWrittenUnderAn8BitCodePage) {
    const std::string name = "ZAŻÓŁĆ GĘŚLĄ JAŹŃ, zażółć gęślą jaźń";
    const std::string document = qiv_document("<terminal><id>" + name + "</id><name>" + name +
                                              "</name><version>wersja ósma</version></terminal>");
    TConfigUnderTest setup(document, 1250);
    const auto terminal = setup.config->get_terminals().at(0);
    EXPECT_EQ(terminal->get_name(), name);
    EXPECT_EQ(terminal->get_version(), "wersja ósma");
    // The code is compared as it stands, without the repair.
    EXPECT_EQ(terminal->get_id_code(), platform::decode_bytes(name, 1250));
    EXPECT_NE(terminal->get_id_code(), name);
}

TEST_F(ConfigGetters, AnEmptyConfigurationHasNoItemsAndNoLookAndFeel) {
    sandbox.set_cache("");
    auto config = TConfigUnderTest(std::nullopt).config;
    EXPECT_EQ(config->get_hash(), "");
    EXPECT_TRUE(config->get_terminals().empty());
    EXPECT_TRUE(config->get_default_files().empty());
    EXPECT_TRUE(config->get_restricted_networks().empty());
    EXPECT_THROW(config->get_color_btn_normal(), TError);
    EXPECT_THROW(config->get_btn_width(), TError);
}

TEST_F(ConfigGetters, ResultsOutliveTheConfiguration) {
    TTerminalConfigs terminals;
    TFileConfigs defaults;
    {
        auto config =
            TConfigUnderTest(qiv_document("<terminal><name>K</name><file><name>f</name></file>"
                                          "</terminal><default_file><name>d</name></default_file>"))
                .config;
        terminals = config->get_terminals();
        defaults = config->get_default_files();
    }
    EXPECT_EQ(terminals[0]->get_name(), "K");
    EXPECT_EQ(file_names(terminals[0]->get_files()), "f;;");
    EXPECT_EQ(defaults[0]->get_name(), "d");
}

}  // namespace
}  // namespace qiv_start::core

namespace qiv_start::core {
namespace {

TEST(ConfigFromDocument, ReadsADocumentAtHandWithoutFetchingOrCaching) {
    TConfigSandbox sandbox;
    // UTF-8 without byte-order mark, read in code page 1250 as a Polish workstation reads it.
    const auto config = TConfigProd::from_document(
        "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\"><hash>AB</hash>"
        "<terminal><id>KASA</id><name>Kasa sprzeda\xC5\xBC\x79</name></terminal></qiv_start>",
        1250);
    EXPECT_EQ(config->get_hash(), "AB");
    ASSERT_EQ(config->get_terminals().size(), 1u);
    EXPECT_EQ(config->get_terminals()[0]->get_name(), "Kasa sprzedaży");
    EXPECT_FALSE(std::filesystem::exists(sandbox.cache_file()));
    EXPECT_FALSE(std::filesystem::exists(sandbox.local_copy()));

    try {
        TConfigProd::from_document("<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\">\n<a>\n",
                                   1250);
        ADD_FAILURE() << "a broken document was read";
    } catch (const TError& failure) {
        EXPECT_NE(std::string(failure.what()).find("(line 3)"), std::string::npos)
            << failure.what();
    }
    EXPECT_THROW(TConfigProd::from_document("<qiv_start/>", 1250), TError);
}

}  // namespace
}  // namespace qiv_start::core
