// Typed views on the configuration document qiv_start_2.xml.
//
// A view keeps no copies: every read goes to the parsed tree and every write changes it. Views
// share ownership of the tree, so any view keeps the whole document alive. Reading a missing
// single-valued child appends it empty to the tree in memory (the text parsed is never changed).
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _xmlNode;

namespace qiv_start::core {

// The namespace of every element of the document; compared without regard to ASCII case.
inline constexpr std::string_view kQivStartNamespace = "http://www.qiv.pl/qiv_start_2";

class TXMLDocument;
using TXMLDocumentRef = std::shared_ptr<TXMLDocument>;

// Parses UTF-8 text; an encoding declaration inside it is ignored, the text is already decoded.
// The empty text gives a document without any element. Raises TError for text that is not
// well-formed and for a document type declaration: entities are refused, never expanded.
TXMLDocumentRef parse_xml_document(const std::string& text);

// Where an element stands in the text it was parsed from, in bytes. Editors use it to change an
// element's content and leave every other byte of the text as it was.
struct TXMLSourceRange {
    std::size_t content_begin = 0;  // just after the start tag; at its "/>" for an empty tag
    std::size_t content_end = 0;    // at the end tag's "</"; at "/>" for an empty tag
    std::size_t end = 0;            // just after the end tag or the "/>"
    bool empty_tag = false;         // written as <name/>
};

// parse_xml_document that also records each element's source range.
TXMLDocumentRef parse_xml_document_with_ranges(const std::string& text);

// The generic element view.
class TXMLNode {
  public:
    TXMLNode(TXMLDocumentRef document, _xmlNode* node);

    std::string local_name() const;
    std::string namespace_uri() const;
    // The attribute's text, or nothing when the element has no such attribute.
    std::optional<std::string> get_attribute(const std::string& name) const;
    void set_attribute(const std::string& name, const std::string& value);
    // The text of the element's single text or CDATA node, or "" when it has no content. Raises
    // TError for any other content.
    std::string get_text() const;
    void set_text(const std::string& value);
    // True when a child element of that name exists in this element's namespace; adds nothing.
    bool has_child(const std::string& name) const;
    // The line of the text on which the element starts (1 for the first), 0 when not known.
    long line() const;
    // The element's place in the parsed text; nothing for elements added in memory and for
    // documents parsed without ranges.
    std::optional<TXMLSourceRange> source_range() const;
    // The prefix of the element's name as written ("" for the default namespace).
    std::string prefix() const;
    // The element's child nodes that are elements, in document order, whatever their names.
    std::vector<TXMLNode> child_elements() const;
    // The same element through a typed view.
    template <class T>
    T as() const {
        return T(document_, node_);
    }

  protected:
    // The first child element of that name in this element's namespace; appended when missing.
    _xmlNode* child(const std::string& name) const;
    std::string child_text(const std::string& name) const;
    void set_child_text(const std::string& name, const std::string& value);
    // The attribute's text; an absent attribute is added empty.
    std::string attribute_text(const std::string& name) const;

    template <class T>
    T child_as(const std::string& name) const {
        return T(document_, child(name));
    }
    const TXMLDocumentRef& document() const { return document_; }
    _xmlNode* node() const { return node_; }

  private:
    TXMLDocumentRef document_;
    _xmlNode* node_;
};

// The children of one element that bear the item tag in the element's namespace, in document
// order; other children between them are skipped.
class TXMLNodeCollection {
  public:
    TXMLNodeCollection(TXMLDocumentRef document, _xmlNode* parent, std::string item_tag);

    std::size_t count() const;
    void delete_item(std::size_t index);  // raises TError outside 0 .. count-1
    void clear();

  protected:
    _xmlNode* item_node(std::size_t index) const;  // raises TError outside 0 .. count-1
    std::vector<_xmlNode*> item_nodes() const;
    _xmlNode* add_node();                      // a new empty item after the parent's children
    _xmlNode* insert_node(std::size_t index);  // a new empty item at index (0 .. count)
    const TXMLDocumentRef& document() const { return document_; }

  private:
    TXMLDocumentRef document_;
    _xmlNode* parent_;
    std::string item_tag_;
};

template <class T>
class TXMLNodeList : public TXMLNodeCollection {
  public:
    using TXMLNodeCollection::TXMLNodeCollection;

    T item(std::size_t index) const { return T(document(), item_node(index)); }
    // Every item, in one pass over the children.
    std::vector<T> items() const {
        std::vector<T> result;
        for (_xmlNode* node : item_nodes())
            result.emplace_back(document(), node);
        return result;
    }
    T add() { return T(document(), add_node()); }
    T insert(std::size_t index) { return T(document(), insert_node(index)); }
};

// Items that are plain text elements.
class TXMLString_List : public TXMLNodeCollection {
  public:
    using TXMLNodeCollection::TXMLNodeCollection;

    // The item's text; an item without text has no value and raises TError.
    std::string item(std::size_t index) const;
    // Every item's text, in document order; raises TError at the first item without text.
    std::vector<std::string> items() const;
    TXMLNode add(const std::string& value);
    TXMLNode insert(std::size_t index, const std::string& value);
};

// A look-and-feel element: clForm, btnWidth, ...
class TXMLGuiParamType : public TXMLNode {
  public:
    using TXMLNode::TXMLNode;
    std::string get_value() const { return attribute_text("value"); }
    void set_value(const std::string& value) { set_attribute("value", value); }
};

class TXMLNetworkType : public TXMLNode {
  public:
    using TXMLNode::TXMLNode;
    std::string get_mask() const { return attribute_text("mask"); }
    std::string get_ip() const { return attribute_text("ip"); }
    void set_mask(const std::string& value) { set_attribute("mask", value); }
    void set_ip(const std::string& value) { set_attribute("ip", value); }
};

class TXMLAccess_mode : public TXMLNode {
  public:
    using TXMLNode::TXMLNode;
    std::string get_value() const { return attribute_text("value"); }
    void set_value(const std::string& value) { set_attribute("value", value); }
};

// A file description: default_file, exe_file, file, icon_file and the file of a dll.
class TXMLFileType : public TXMLNode {
  public:
    using TXMLNode::TXMLNode;
    std::string get_name() const { return child_text("name"); }
    std::string get_target_path() const { return child_text("target_path"); }
    std::string get_source_path() const { return child_text("source_path"); }
    std::string get_description() const { return child_text("description"); }
    // True exactly when an unzip child exists whose text in ASCII upper case is "TRUE".
    bool get_unzip() const;
    std::string get_hash() const { return child_text("hash"); }
    // Empty when the entry carries no SHA-256 digest.
    std::string get_sha256() const { return has_child("sha256") ? child_text("sha256") : ""; }
    void set_name(const std::string& value) { set_child_text("name", value); }
    void set_target_path(const std::string& value) { set_child_text("target_path", value); }
    void set_source_path(const std::string& value) { set_child_text("source_path", value); }
    void set_description(const std::string& value) { set_child_text("description", value); }
    void set_hash(const std::string& value) { set_child_text("hash", value); }
};

using TXMLFileTypeList = TXMLNodeList<TXMLFileType>;
using TXMLNetworkTypeList = TXMLNodeList<TXMLNetworkType>;

class TXMLTerminalType : public TXMLNode {
  public:
    using TXMLNode::TXMLNode;
    std::string get_id() const { return child_text("id"); }
    std::string get_name() const { return child_text("name"); }
    std::string get_date() const { return child_text("date"); }
    std::string get_version() const { return child_text("version"); }
    TXMLAccess_mode get_access_mode() const { return child_as<TXMLAccess_mode>("access_mode"); }
    TXMLFileType get_exe_file() const { return child_as<TXMLFileType>("exe_file"); }
    TXMLFileTypeList get_file() const { return {document(), node(), "file"}; }
    TXMLFileType get_icon_file() const { return child_as<TXMLFileType>("icon_file"); }
    TXMLString_List get_dll_lib() const { return {document(), node(), "dll_lib"}; }
    void set_id(const std::string& value) { set_child_text("id", value); }
    void set_name(const std::string& value) { set_child_text("name", value); }
    void set_date(const std::string& value) { set_child_text("date", value); }
    void set_version(const std::string& value) { set_child_text("version", value); }
};

using TXMLTerminalTypeList = TXMLNodeList<TXMLTerminalType>;

class TXMLDllType : public TXMLNode {
  public:
    using TXMLNode::TXMLNode;
    std::string get_name() const { return child_text("name"); }
    std::string get_date() const { return child_text("date"); }
    std::string get_version() const { return child_text("version"); }
    TXMLFileType get_file() const { return child_as<TXMLFileType>("file"); }
    void set_name(const std::string& value) { set_child_text("name", value); }
    void set_date(const std::string& value) { set_child_text("date", value); }
    void set_version(const std::string& value) { set_child_text("version", value); }
};

using TXMLDllTypeList = TXMLNodeList<TXMLDllType>;

// The document element qiv_start.
class TXMLQiv_start : public TXMLNode {
  public:
    using TXMLNode::TXMLNode;
    std::string get_hash() const { return child_text("hash"); }
    std::string get_sha256() const { return child_text("sha256"); }
    // <self_update value="true"/>: an outdated launcher replaces itself.
    bool get_self_update() const {
        return has_child("self_update") &&
               child_as<TXMLGuiParamType>("self_update").get_attribute("value") == "true";
    }
    // <store value="objects/"/>: the value as written ("" without one); nothing without the
    // element.
    std::optional<std::string> get_store() const {
        if (!has_child("store"))
            return std::nullopt;
        return child_as<TXMLGuiParamType>("store").get_attribute("value").value_or("");
    }
    // <report value="NAME" host_name="false"/>: the attributes as written; nothing without it.
    std::optional<std::pair<std::string, std::string>> get_report() const {
        if (!has_child("report"))
            return std::nullopt;
        const auto report = child_as<TXMLGuiParamType>("report");
        return std::pair{report.get_attribute("value").value_or(""),
                         report.get_attribute("host_name").value_or("")};
    }
    std::string get_prog_version() const { return attribute_text("prog_version"); }
    std::string get_admin_email() const { return child_text("admin_email"); }
    std::string get_link() const { return child_text("link"); }
    TXMLGuiParamType get_clForm() const { return gui_param("clForm"); }
    TXMLGuiParamType get_clBtnNormal() const { return gui_param("clBtnNormal"); }
    TXMLGuiParamType get_clBtnHighlight() const { return gui_param("clBtnHighlight"); }
    TXMLGuiParamType get_clBtnFrame() const { return gui_param("clBtnFrame"); }
    TXMLGuiParamType get_clBtnText() const { return gui_param("clBtnText"); }
    TXMLGuiParamType get_clText() const { return gui_param("clText"); }
    TXMLGuiParamType get_clLink() const { return gui_param("clLink"); }
    TXMLGuiParamType get_btnWidth() const { return gui_param("btnWidth"); }
    TXMLGuiParamType get_btnHeight() const { return gui_param("btnHeight"); }
    TXMLGuiParamType get_btnRowLength() const { return gui_param("btnRowLength"); }
    TXMLGuiParamType get_topMargin() const { return gui_param("topMargin"); }
    TXMLGuiParamType get_margin() const { return gui_param("margin"); }
    TXMLGuiParamType get_textSize() const { return gui_param("textSize"); }
    TXMLGuiParamType get_btnTextSize() const { return gui_param("btnTextSize"); }
    TXMLNetworkTypeList get_network() const { return {document(), node(), "network"}; }
    TXMLTerminalTypeList get_terminal() const { return {document(), node(), "terminal"}; }
    TXMLDllTypeList get_dll() const { return {document(), node(), "dll"}; }
    TXMLFileTypeList get_default_file() const { return {document(), node(), "default_file"}; }
    void set_prog_version(const std::string& value) { set_attribute("prog_version", value); }
    void set_admin_email(const std::string& value) { set_child_text("admin_email", value); }
    void set_link(const std::string& value) { set_child_text("link", value); }

  private:
    TXMLGuiParamType gui_param(const std::string& name) const {
        return child_as<TXMLGuiParamType>(name);
    }
};

// The document element as qiv_start. A document without any element gets an empty qiv_start
// element in the target namespace. Raises TError when the document element has another name or
// another namespace.
TXMLQiv_start get_qiv_start(const TXMLDocumentRef& document);

}  // namespace qiv_start::core
