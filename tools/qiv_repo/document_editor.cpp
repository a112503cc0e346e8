#include "qiv_repo/document_editor.h"

#include <libxml/entities.h>
#include <libxml/globals.h>

#include <algorithm>
#include <string_view>

#include "core/support/error.h"

namespace qiv_start::repo {
namespace {

std::string qualified_name(const core::TXMLNode& element, const std::string& name) {
    const std::string prefix = element.prefix();
    return prefix.empty() ? name : prefix + ":" + name;
}

std::string element_text(const std::string& qualified, const std::string& value) {
    return "<" + qualified + ">" + escape_xml_text(value) + "</" + qualified + ">";
}

}  // namespace

core::TXMLSourceRange TDocumentEditor::range_of(const core::TXMLNode& element) const {
    const auto range = element.source_range();
    if (!range || range->end > text_.size()) {
        throw core::TError("Element \"" + element.local_name() + "\" was not read from the text");
    }
    return *range;
}

// The "<" of the element's start tag: "<" cannot stand inside a tag's attributes.
std::size_t TDocumentEditor::start_of(const core::TXMLSourceRange& range) const {
    return text_.rfind('<', range.content_begin == 0 ? 0 : range.content_begin - 1);
}

// The blanks and line breaks just before position.
std::string TDocumentEditor::indentation_before(std::size_t position) const {
    std::size_t begin = position;
    while (begin > 0 && std::string_view(" \t\r\n").find(text_[begin - 1]) != std::string::npos)
        --begin;
    return text_.substr(begin, position - begin);
}

void TDocumentEditor::set_text(const core::TXMLNode& element, const std::string& value) {
    element.get_text();  // raises for content that is not a single text node
    const core::TXMLSourceRange range = range_of(element);
    if (range.empty_tag) {
        edits_.push_back({range.content_begin, range.end,
                          ">" + escape_xml_text(value) + "</" +
                              qualified_name(element, element.local_name()) + ">"});
    } else {
        edits_.push_back({range.content_begin, range.content_end, escape_xml_text(value)});
    }
}

void TDocumentEditor::add_child(const core::TXMLNode& parent, const std::string& name,
                                const std::string& value, TPlace place) {
    const std::vector<core::TXMLNode> children = parent.child_elements();
    if (children.empty()) {
        throw core::TError("Element \"" + parent.local_name() + "\" has no child elements");
    }
    const std::string element = element_text(qualified_name(parent, name), value);
    if (place == TPlace::kFirst) {
        const std::size_t start = start_of(range_of(children.front()));
        edits_.push_back({start, start, element + indentation_before(start)});
    } else {
        const core::TXMLSourceRange last = range_of(children.back());
        edits_.push_back({last.end, last.end, indentation_before(start_of(last)) + element});
    }
}

void TDocumentEditor::add_after(const core::TXMLNode& sibling, const std::string& name,
                                const std::string& attribute, const std::string& value) {
    const core::TXMLSourceRange range = range_of(sibling);
    const std::string element = "<" + qualified_name(sibling, name) + " " + attribute + "=\"" +
                                escape_xml_text(value) + "\"/>";
    edits_.push_back({range.end, range.end, indentation_before(start_of(range)) + element});
}

std::string TDocumentEditor::apply() const {
    std::vector<TEdit> edits = edits_;
    std::sort(edits.begin(), edits.end(),
              [](const TEdit& a, const TEdit& b) { return a.begin < b.begin; });
    std::string result;
    std::size_t at = 0;
    for (const TEdit& edit : edits) {
        if (edit.begin < at)
            throw core::TError("Overlapping changes of the document");
        result.append(text_, at, edit.begin - at);
        result += edit.replacement;
        at = edit.end;
    }
    result.append(text_, at, std::string::npos);
    return result;
}

std::string escape_xml_text(const std::string& text) {
    xmlChar* escaped =
        xmlEncodeSpecialChars(nullptr, reinterpret_cast<const xmlChar*>(text.c_str()));
    if (escaped == nullptr)
        throw core::TError("Out of memory while writing the document");
    std::string result(reinterpret_cast<const char*>(escaped));
    xmlFree(escaped);
    return result;
}

}  // namespace qiv_start::repo
