#include "core/config/xml_binding.h"

#include <gtest/gtest.h>

#include <string>

#include "core/config/config_test_fixture.h"
#include "core/support/error.h"

namespace qiv_start::core {
namespace {

using test::qiv_document;

TXMLQiv_start root_of(const std::string& text) {
    return get_qiv_start(parse_xml_document(text));
}

std::string error_of(const std::string& text) {
    try {
        root_of(text);
    } catch (const TError& failure) {
        return failure.what();
    }
    return "no error";
}

TEST(XmlBinding, ReadsTextsAttributesAndFileDescriptions) {
    const auto root = root_of(
        "<?xml version=\"1.0\"?>\n"
        "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\" prog_version=\"2.1\">\n"
        "  <hash>ABC</hash><hash>second</hash>\n"
        "  <admin_email>admin@qiv.pl</admin_email><link>http://qiv.pl/</link>\n"
        "  <clForm value=\"clWhite\"/><btnWidth value=\" 120\"/>\n"
        "  <network mask=\"255.255.255.0\" ip=\"10.0.0.0\"/>\n"
        "  <terminal><id>T1</id><name>Kasa</name><date>2024</date><version>1.2</version>\n"
        "    <access_mode value=\"ALL\"/>\n"
        "    <exe_file><name>kasa.exe</name><target_path>kasa\\bin</target_path>"
        "<source_path>src</source_path><description>d</description><hash>H1</hash></exe_file>\n"
        "    <dll_lib>libA</dll_lib>\n"
        "  </terminal>\n"
        "  <dll><name>libA</name><file><name>a.dll</name></file></dll>\n"
        "</qiv_start>\n");
    EXPECT_EQ(root.get_hash(), "ABC");  // a later duplicate is ignored
    EXPECT_EQ(root.get_prog_version(), "2.1");
    EXPECT_EQ(root.get_admin_email(), "admin@qiv.pl");
    EXPECT_EQ(root.get_link(), "http://qiv.pl/");
    EXPECT_EQ(root.get_clForm().get_value(), "clWhite");
    EXPECT_EQ(root.get_btnWidth().get_value(), " 120");
    EXPECT_EQ(root.get_network().item(0).get_mask(), "255.255.255.0");
    EXPECT_EQ(root.get_network().item(0).get_ip(), "10.0.0.0");

    const TXMLTerminalType terminal = root.get_terminal().item(0);
    EXPECT_EQ(terminal.get_id(), "T1");
    EXPECT_EQ(terminal.get_name(), "Kasa");
    EXPECT_EQ(terminal.get_date(), "2024");
    EXPECT_EQ(terminal.get_version(), "1.2");
    EXPECT_EQ(terminal.get_access_mode().get_value(), "ALL");  // as written
    const TXMLFileType exe = terminal.get_exe_file();
    EXPECT_EQ(exe.get_name(), "kasa.exe");
    EXPECT_EQ(exe.get_target_path(), "kasa\\bin");
    EXPECT_EQ(exe.get_source_path(), "src");
    EXPECT_EQ(exe.get_description(), "d");
    EXPECT_EQ(exe.get_hash(), "H1");
    EXPECT_EQ(terminal.get_dll_lib().item(0), "libA");
    EXPECT_EQ(root.get_dll().item(0).get_file().get_name(), "a.dll");
}

TEST(XmlBinding, MissingNodesReadEmptyAndAreAddedInMemory) {
    const auto root = root_of(qiv_document("<terminal/>"));
    EXPECT_FALSE(root.has_child("hash"));
    EXPECT_EQ(root.get_hash(), "");
    EXPECT_TRUE(root.has_child("hash"));
    EXPECT_FALSE(root.get_clBtnNormal().get_attribute("value").has_value());

    const TXMLTerminalType terminal = root.get_terminal().item(0);
    EXPECT_EQ(terminal.get_access_mode().get_value(), "");
    EXPECT_EQ(terminal.get_access_mode().get_attribute("value"), std::optional<std::string>(""));
    EXPECT_EQ(terminal.get_exe_file().get_name(), "");
    EXPECT_EQ(root.get_prog_version(), "");
    EXPECT_EQ(root.get_attribute("prog_version"), std::optional<std::string>(""));
}

TEST(XmlBinding, CollectionsKeepDocumentOrderAndSkipOtherChildren) {
    const auto root = root_of(qiv_document(
        "<terminal><id>1</id></terminal><dll><name>a</name></dll><hash>h</hash>"
        "<terminal><id>2</id></terminal><dll><name>b</name></dll><terminal><id>3</id></terminal>"
        "<default_file><name>x</name></default_file>"));
    const auto terminals = root.get_terminal();
    ASSERT_EQ(terminals.count(), 3u);
    EXPECT_EQ(terminals.item(0).get_id(), "1");
    EXPECT_EQ(terminals.item(1).get_id(), "2");
    EXPECT_EQ(terminals.item(2).get_id(), "3");
    EXPECT_EQ(root.get_dll().count(), 2u);
    EXPECT_EQ(root.get_dll().item(1).get_name(), "b");
    EXPECT_EQ(root.get_default_file().count(), 1u);
    EXPECT_EQ(root.get_network().count(), 0u);
    EXPECT_THROW(terminals.item(3), TError);
}

TEST(XmlBinding, UnzipIsTrueOnlyForTrueInAnyLetterCase) {
    const auto files = root_of(qiv_document("<default_file><unzip>true</unzip></default_file>"
                                            "<default_file><unzip>True</unzip></default_file>"
                                            "<default_file><unzip> TRUE</unzip></default_file>"
                                            "<default_file><unzip>1</unzip></default_file>"
                                            "<default_file><unzip/></default_file>"
                                            "<default_file/>"))
                           .get_default_file();
    const bool expected[] = {true, true, false, false, false, false};
    ASSERT_EQ(files.count(), 6u);
    for (std::size_t i = 0; i < files.count(); ++i) {
        EXPECT_EQ(files.item(i).get_unzip(), expected[i]) << "file " << i;
    }
    EXPECT_FALSE(files.item(5).has_child("unzip"));  // reading it added nothing
}

TEST(XmlBinding, TextElementsHoldOneTextNodeOrNothing) {
    const auto root = root_of(qiv_document(
        "<hash><![CDATA[<raw>]]></hash><admin_email>a &amp; b&#65;&lt;</admin_email>"
        "<link>x<b/></link><terminal><id>1<!-- c --></id><name><!-- only --></name></terminal>"));
    EXPECT_EQ(root.get_hash(), "<raw>");
    EXPECT_EQ(root.get_admin_email(), "a & bA<");
    try {
        root.get_link();
        ADD_FAILURE() << "mixed content was read";
    } catch (const TError& failure) {
        EXPECT_STREQ(failure.what(), "Element \"link\" does not contain a single text node");
    }
    EXPECT_THROW(root.get_terminal().item(0).get_id(), TError);
    EXPECT_THROW(root.get_terminal().item(0).get_name(), TError);
}

TEST(XmlBinding, AnEmptyDllLibHasNoValue) {
    const auto names = root_of(qiv_document("<terminal><dll_lib>A</dll_lib><dll_lib/></terminal>"))
                           .get_terminal()
                           .item(0)
                           .get_dll_lib();
    EXPECT_EQ(names.item(0), "A");
    EXPECT_THROW(names.item(1), TError);
}

TEST(XmlBinding, RootMustBeQivStartInTheTargetNamespace) {
    EXPECT_NE(error_of("<qiv_start><hash>x</hash></qiv_start>"), "no error");
    EXPECT_NE(error_of("<qiv_start xmlns=\"http://www.qiv.pl/other\"/>"), "no error");
    EXPECT_NE(error_of("<qiv xmlns=\"http://www.qiv.pl/qiv_start_2\"/>"), "no error");
    EXPECT_NE(error_of("<Qiv_Start xmlns=\"http://www.qiv.pl/qiv_start_2\"/>"), "no error");
    // Namespace URIs are compared without regard to ASCII case; the prefix does not matter.
    EXPECT_EQ(
        root_of("<qiv_start xmlns=\"HTTP://WWW.QIV.PL/QIV_START_2\"><hash>h</hash></qiv_start>")
            .get_hash(),
        "h");
    EXPECT_EQ(root_of("<q:qiv_start xmlns:q=\"http://www.qiv.pl/qiv_start_2\"><q:hash>p</q:hash>"
                      "</q:qiv_start>")
                  .get_hash(),
              "p");
}

TEST(XmlBinding, ChildrenInAnotherNamespaceAreNoMembers) {
    const auto root =
        root_of(qiv_document("<hash xmlns=\"urn:other\">foreign</hash><terminal "
                             "xmlns=\"urn:other\"><id>x</id></terminal>"
                             "<terminal><id>own</id></terminal>"));
    EXPECT_EQ(root.get_terminal().count(), 1u);
    EXPECT_EQ(root.get_terminal().item(0).get_id(), "own");
    EXPECT_EQ(root.get_hash(), "");
}

TEST(XmlBinding, EmptyTextGivesAnEmptyRootButOtherNonDocumentsFail) {
    const auto root = root_of("");
    EXPECT_EQ(root.local_name(), "qiv_start");
    EXPECT_EQ(root.namespace_uri(), kQivStartNamespace);
    EXPECT_EQ(root.get_hash(), "");
    EXPECT_EQ(root.get_terminal().count(), 0u);
    EXPECT_EQ(root.get_dll().count(), 0u);
    EXPECT_EQ(root.get_network().count(), 0u);
    EXPECT_EQ(root.get_default_file().count(), 0u);

    EXPECT_THROW(parse_xml_document("\r\n"), TError);
    EXPECT_THROW(parse_xml_document("<qiv_start>"), TError);
    EXPECT_THROW(parse_xml_document(qiv_document("<hash>&nbsp;</hash>")), TError);
}

TEST(XmlBinding, DocumentTypeDeclarationsAreRefusedNotExpanded) {
    const std::string laughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE qiv_start [\n <!ENTITY a \"lol\">\n"
        " <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
        " <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n"
        " <!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
        " <!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n"
        " <!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n"
        " <!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">\n"
        " <!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">\n"
        " <!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">\n]>\n" +
        qiv_document("<hash>&i;</hash>");
    const std::string external =
        "<!DOCTYPE qiv_start [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
        qiv_document("<hash>&x;</hash>");
    const std::string external_subset =
        "<!DOCTYPE qiv_start SYSTEM \"http://127.0.0.1:9/x.dtd\">" + qiv_document("");
    const std::string refusal =
        "The configuration document must not contain a document type declaration";
    EXPECT_EQ(error_of(laughs), refusal);
    EXPECT_EQ(error_of(external), refusal);
    EXPECT_EQ(error_of(external_subset), refusal);
}

TEST(XmlBinding, TheTextIsTakenAsUtf8WhateverItsDeclarationSays) {
    const auto root = root_of("<?xml version=\"1.0\" encoding=\"windows-1250\"?>" +
                              qiv_document("<hash>zażółć</hash>"));
    EXPECT_EQ(root.get_hash(), "zażółć");
}

TEST(XmlBinding, ViewsKeepTheDocumentAlive) {
    std::optional<TXMLFileType> file;
    {
        auto document = parse_xml_document(
            qiv_document("<terminal><file><name>a.txt</name></file></terminal>"));
        file = get_qiv_start(document).get_terminal().item(0).get_file().item(0);
    }
    EXPECT_EQ(file->get_name(), "a.txt");
}

TEST(XmlBinding, WritesChangeTheTreeLiterally) {
    const auto root = root_of(qiv_document("<network ip=\"1\"/><terminal/>"));
    TXMLQiv_start writable = root;
    writable.set_admin_email("a<b>&amp;");
    writable.set_prog_version("\"3\" & <4>");
    EXPECT_EQ(root.get_admin_email(), "a<b>&amp;");
    EXPECT_EQ(root.get_prog_version(), "\"3\" & <4>");

    TXMLTerminalType terminal = root.get_terminal().item(0);
    terminal.set_name("Kasa");
    terminal.set_name("");
    EXPECT_EQ(terminal.get_name(), "");
    TXMLFileType exe = terminal.get_exe_file();
    exe.set_hash("H");
    EXPECT_EQ(terminal.get_exe_file().get_hash(), "H");

    auto networks = root.get_network();
    networks.add().set_ip("3");
    networks.insert(1).set_ip("2");
    networks.insert(0).set_ip("0");
    ASSERT_EQ(networks.count(), 4u);
    EXPECT_EQ(networks.item(0).get_ip(), "0");
    EXPECT_EQ(networks.item(1).get_ip(), "1");
    EXPECT_EQ(networks.item(2).get_ip(), "2");
    EXPECT_EQ(networks.item(3).get_ip(), "3");

    const TXMLNetworkType deleted = networks.item(1);
    networks.delete_item(1);
    EXPECT_EQ(networks.count(), 3u);
    EXPECT_EQ(deleted.get_ip(), "1");  // a view of a deleted item stays readable
    networks.clear();
    EXPECT_EQ(networks.count(), 0u);
    EXPECT_EQ(root.get_terminal().count(), 1u);

    auto names = terminal.get_dll_lib();
    names.add("B");
    names.insert(0, "A");
    ASSERT_EQ(names.count(), 2u);
    EXPECT_EQ(names.item(0), "A");
    EXPECT_EQ(names.item(1), "B");
}

}  // namespace
}  // namespace qiv_start::core
