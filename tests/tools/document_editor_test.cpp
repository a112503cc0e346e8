// Element texts changed in the document's text, every other byte kept.
#include <gtest/gtest.h>

#include "core/config/xml_binding.h"
#include "core/support/error.h"
#include "qiv_repo/document_editor.h"
#include "qiv_repo/repository.h"

namespace qiv_start::test {
namespace {

using repo::TDocumentEditor;

TEST(DocumentEditor, AddsChildrenIndentedLikeTheirSiblingsAndEscapesText) {
    const std::string text =
        "<q:qiv_start xmlns:q=\"http://www.qiv.pl/qiv_start_2\">\n"
        "\t<!-- komentarz -->\n"
        "\t<q:link/>\n"
        "\t<q:default_file>\n"
        "\t\t<q:name>a</q:name>\n"
        "\t</q:default_file>\n"
        "</q:qiv_start>";
    const auto root = core::get_qiv_start(core::parse_xml_document_with_ranges(text));
    TDocumentEditor editor(text);
    editor.add_child(root, "hash", "ABC", TDocumentEditor::TPlace::kFirst);
    editor.set_text(*repo::find_child(root, "link"), "http://a/?x=1&y=<2>");
    editor.add_child(*repo::find_child(root, "default_file"), "hash", "DEF",
                     TDocumentEditor::TPlace::kLast);

    EXPECT_EQ(editor.apply(),
              "<q:qiv_start xmlns:q=\"http://www.qiv.pl/qiv_start_2\">\n"
              "\t<!-- komentarz -->\n"
              "\t<q:hash>ABC</q:hash>\n"
              "\t<q:link>http://a/?x=1&amp;y=&lt;2&gt;</q:link>\n"
              "\t<q:default_file>\n"
              "\t\t<q:name>a</q:name>\n"
              "\t\t<q:hash>DEF</q:hash>\n"
              "\t</q:default_file>\n"
              "</q:qiv_start>");
}

// The last child on a line ends right before its parent's end tag, which must not be taken for
// its own.
TEST(DocumentEditor, ChangesElementsThatShareOneLine) {
    const std::string text =
        "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\"><hash>0</hash>"
        "<default_file><name>a</name><hash>0</hash></default_file></qiv_start>";
    const auto root = core::get_qiv_start(core::parse_xml_document_with_ranges(text));
    TDocumentEditor editor(text);
    editor.set_text(*repo::find_child(root, "hash"), "AB");
    editor.set_text(*repo::find_child(*repo::find_child(root, "default_file"), "hash"), "CD");
    EXPECT_EQ(editor.apply(),
              "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\"><hash>AB</hash>"
              "<default_file><name>a</name><hash>CD</hash></default_file></qiv_start>");
}

TEST(DocumentEditor, RefusesWhatItCannotChangeExactly) {
    const std::string text =
        "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\"><hash>A<!-- B --></hash>"
        "<link>x</link></qiv_start>";
    const auto document = core::parse_xml_document_with_ranges(text);
    const auto root = core::get_qiv_start(document);
    TDocumentEditor editor(text);
    EXPECT_THROW(editor.set_text(*repo::find_child(root, "hash"), "C"), core::TError);
    // An element added in memory has no place in the text.
    EXPECT_THROW(editor.set_text(root.get_default_file().add(), "C"), core::TError);
    const auto link = *repo::find_child(root, "link");
    editor.set_text(link, "y");
    editor.set_text(link, "z");
    EXPECT_THROW(editor.apply(), core::TError);
    // A document parsed without ranges cannot be edited.
    const auto plain = core::get_qiv_start(core::parse_xml_document(text));
    EXPECT_THROW(TDocumentEditor(text).set_text(*repo::find_child(plain, "link"), "y"),
                 core::TError);
}

}  // namespace
}  // namespace qiv_start::test
