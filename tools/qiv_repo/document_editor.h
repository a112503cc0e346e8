// Changes to element texts of a parsed document, applied to its text so that every byte outside
// the changed elements (comments, order, indentation, line ends) stays as it was.
#pragma once

#include <string>
#include <vector>

#include "core/config/xml_binding.h"

namespace qiv_start::repo {

class TDocumentEditor {
  public:
    // text: what the document was parsed from, with source ranges.
    explicit TDocumentEditor(std::string text) : text_(std::move(text)) {}

    // Replaces the element's content with the text. Raises TError for an element whose content is
    // more than one text node, or that was not parsed from the text.
    void set_text(const core::TXMLNode& element, const std::string& value);
    // Adds a child element with the text, on a line of its own indented like its siblings: after
    // the last child element, or before the first one. Raises TError for a parent without child
    // elements.
    enum class TPlace { kFirst, kLast };
    void add_child(const core::TXMLNode& parent, const std::string& name, const std::string& value,
                   TPlace place);

    // Adds an empty element with one attribute on a line of its own right after the sibling,
    // indented like it.
    void add_after(const core::TXMLNode& sibling, const std::string& name,
                   const std::string& attribute, const std::string& value);

    // The text with every change made; changes must not overlap.
    std::string apply() const;
    bool empty() const { return edits_.empty(); }

  private:
    struct TEdit {
        std::size_t begin;
        std::size_t end;
        std::string replacement;
    };
    core::TXMLSourceRange range_of(const core::TXMLNode& element) const;
    std::size_t start_of(const core::TXMLSourceRange& range) const;
    std::string indentation_before(std::size_t position) const;

    std::string text_;
    std::vector<TEdit> edits_;
};

// The text with XML's special characters written as references.
std::string escape_xml_text(const std::string& text);

}  // namespace qiv_start::repo
