#include "core/config/xml_binding.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <unordered_map>
#include <vector>

#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/repository_names.h"

namespace qiv_start::core {

// The parsed tree. Nodes taken out of it stay alive here until the document goes, so a view of a
// deleted item never points at freed memory.
class TXMLDocument {
  public:
    explicit TXMLDocument(xmlDocPtr doc) : doc_(doc) {}
    ~TXMLDocument() {
        for (xmlNodePtr node : detached_)
            xmlFreeNode(node);
        xmlFreeDoc(doc_);
    }
    TXMLDocument(const TXMLDocument&) = delete;
    TXMLDocument& operator=(const TXMLDocument&) = delete;

    xmlDocPtr doc() const { return doc_; }
    void detach(xmlNodePtr node) {
        xmlUnlinkNode(node);
        detached_.push_back(node);
    }

    std::unordered_map<const xmlNode*, TXMLSourceRange> ranges;

  private:
    xmlDocPtr doc_;
    std::vector<xmlNodePtr> detached_;
};

namespace {

const xmlChar* xml(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

std::string text_of(const xmlChar* text) {
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

bool in_target_namespace(const xmlNode* node) {
    return node->ns && node->ns->href &&
           equals_ignoring_ascii_case(text_of(node->ns->href), kQivStartNamespace);
}

bool is_element_named(const xmlNode* node, const std::string& name) {
    return node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, xml(name)) &&
           in_target_namespace(node);
}

xmlNodePtr find_child(const xmlNode* parent, const std::string& name) {
    for (xmlNodePtr child = parent->children; child; child = child->next) {
        if (is_element_named(child, name))
            return child;
    }
    return nullptr;
}

// A new empty element in the namespace of the parent, not yet linked into the tree.
xmlNodePtr new_element_like(xmlNodePtr parent, const std::string& name) {
    xmlNodePtr element = xmlNewDocNode(parent->doc, parent->ns, xml(name), nullptr);
    if (!element)
        throw TError("Out of memory while building the XML document");
    return element;
}

xmlNodePtr append_child(xmlNodePtr parent, const std::string& name) {
    return xmlAddChild(parent, new_element_like(parent, name));
}

void set_attribute_of(xmlNodePtr node, const std::string& name, const std::string& value) {
    if (!xmlSetNsProp(node, nullptr, xml(name), xml(value))) {
        throw TError("Out of memory while building the XML document");
    }
}

using TParserContext = std::unique_ptr<xmlParserCtxt, decltype(&xmlFreeParserCtxt)>;

// What the callbacks of one parse share through the parser's private pointer.
struct TParseState {
    bool refused = false;  // a document type declaration was met
    const std::string* text = nullptr;
    std::unordered_map<const xmlNode*, TXMLSourceRange>* ranges = nullptr;  // null: not recorded
};

TParseState& state_of(void* context) {
    return *static_cast<TParseState*>(static_cast<xmlParserCtxtPtr>(context)->_private);
}

// The parser's position in the text, in bytes.
std::size_t offset_of(void* context) {
    const xmlParserInputPtr input = static_cast<xmlParserCtxtPtr>(context)->input;
    return static_cast<std::size_t>(input->consumed) +
           static_cast<std::size_t>(input->cur - input->base);
}

// Called when the parser meets <!DOCTYPE ...>, before any declaration inside it is read.
void refuse_document_type(void* context, const xmlChar*, const xmlChar*, const xmlChar*) {
    state_of(context).refused = true;
    xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
}

// Called with the parser at the start tag's closing ">" or "/>".
void start_element(void* context, const xmlChar* name, const xmlChar* prefix, const xmlChar* uri,
                   int namespace_count, const xmlChar** namespaces, int attribute_count,
                   int defaulted_count, const xmlChar** attributes) {
    xmlSAX2StartElementNs(context, name, prefix, uri, namespace_count, namespaces, attribute_count,
                          defaulted_count, attributes);
    TParseState& state = state_of(context);
    const xmlNode* node = static_cast<xmlParserCtxtPtr>(context)->node;
    const std::size_t at = offset_of(context);
    if (node && at < state.text->size()) {
        const bool empty = (*state.text)[at] == '/';
        (*state.ranges)[node] = {empty ? at : at + 1, at, 0, empty};
    }
}

// Called with the parser just after the end tag or the "/>".
void end_element(void* context, const xmlChar* name, const xmlChar* prefix, const xmlChar* uri) {
    TParseState& state = state_of(context);
    const xmlNode* node = static_cast<xmlParserCtxtPtr>(context)->node;
    if (auto found = state.ranges->find(node); found != state.ranges->end()) {
        TXMLSourceRange& range = found->second;
        range.end = offset_of(context);
        if (!range.empty_tag) {
            // The end tag lies before range.end; a "</" at range.end is the parent's end tag.
            const auto close = state.text->rfind("</", range.end - 1);
            range.content_end = close == std::string::npos ? range.end : close;
        }
    }
    xmlSAX2EndElementNs(context, name, prefix, uri);
}

std::string parse_failure(xmlParserCtxtPtr parser) {
    const xmlError* failure = xmlCtxtGetLastError(parser);
    if (!failure || !failure->message)
        return "The configuration document is not well-formed";
    std::string message = failure->message;
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    return format("The configuration document is not well-formed (line %s): %s",
                  {std::to_string(failure->line), message});
}

xmlDocPtr parse_nonempty(const std::string& text, TParseState& state) {
    if (text.size() > INT_MAX)
        throw TError("The configuration document is too large");
    static const bool initialised = (xmlInitParser(), true);
    (void)initialised;
    TParserContext parser(xmlNewParserCtxt(), &xmlFreeParserCtxt);
    if (!parser)
        throw TError("Out of memory while parsing the configuration document");
    parser->_private = &state;
    parser->sax->internalSubset = refuse_document_type;
    if (state.ranges) {
        parser->sax->startElementNs = start_element;
        parser->sax->endElementNs = end_element;
    }
    const int options =
        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
    xmlDocPtr doc = xmlCtxtReadMemory(parser.get(), text.data(), static_cast<int>(text.size()),
                                      kDocumentName, "UTF-8", options);
    if (state.refused) {
        xmlFreeDoc(doc);
        throw TError("The configuration document must not contain a document type declaration");
    }
    if (!doc)
        throw TError(parse_failure(parser.get()));
    return doc;
}

TXMLDocumentRef parse_document(const std::string& text, bool with_ranges) {
    std::unordered_map<const xmlNode*, TXMLSourceRange> ranges;
    TParseState state{false, &text, with_ranges ? &ranges : nullptr};
    xmlDocPtr doc = text.empty() ? xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"))
                                 : parse_nonempty(text, state);
    if (!doc)
        throw TError("Out of memory while building the XML document");
    auto document = std::make_shared<TXMLDocument>(doc);
    document->ranges = std::move(ranges);
    return document;
}

}  // namespace

TXMLDocumentRef parse_xml_document(const std::string& text) {
    return parse_document(text, false);
}

TXMLDocumentRef parse_xml_document_with_ranges(const std::string& text) {
    return parse_document(text, true);
}

TXMLNode::TXMLNode(TXMLDocumentRef document, xmlNode* node)
    : document_(std::move(document)), node_(node) {}

std::string TXMLNode::local_name() const {
    return text_of(node_->name);
}

std::string TXMLNode::namespace_uri() const {
    return node_->ns ? text_of(node_->ns->href) : std::string();
}

std::optional<std::string> TXMLNode::get_attribute(const std::string& name) const {
    xmlChar* value = xmlGetNoNsProp(node_, xml(name));
    if (!value)
        return std::nullopt;
    std::string result = text_of(value);
    xmlFree(value);
    return result;
}

void TXMLNode::set_attribute(const std::string& name, const std::string& value) {
    set_attribute_of(node_, name, value);
}

std::string TXMLNode::get_text() const {
    const xmlNode* content = node_->children;
    if (!content)
        return {};
    const bool single = content->next == nullptr &&
                        (content->type == XML_TEXT_NODE || content->type == XML_CDATA_SECTION_NODE);
    if (!single) {
        throw TError(format("Element \"%s\" does not contain a single text node", {local_name()}));
    }
    return text_of(content->content);
}

void TXMLNode::set_text(const std::string& value) {
    while (node_->children)
        document_->detach(node_->children);
    if (!value.empty())
        xmlNodeAddContent(node_, xml(value));
}

bool TXMLNode::has_child(const std::string& name) const {
    return find_child(node_, name);
}

long TXMLNode::line() const {
    return xmlGetLineNo(node_);
}

std::optional<TXMLSourceRange> TXMLNode::source_range() const {
    const auto found = document_->ranges.find(node_);
    if (found == document_->ranges.end())
        return std::nullopt;
    return found->second;
}

std::string TXMLNode::prefix() const {
    return node_->ns ? text_of(node_->ns->prefix) : std::string();
}

std::vector<TXMLNode> TXMLNode::child_elements() const {
    std::vector<TXMLNode> result;
    for (xmlNodePtr child = node_->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE)
            result.emplace_back(document_, child);
    }
    return result;
}

xmlNode* TXMLNode::child(const std::string& name) const {
    xmlNodePtr found = find_child(node_, name);
    return found ? found : append_child(node_, name);
}

std::string TXMLNode::child_text(const std::string& name) const {
    return TXMLNode(document_, child(name)).get_text();
}

void TXMLNode::set_child_text(const std::string& name, const std::string& value) {
    TXMLNode(document_, child(name)).set_text(value);
}

std::string TXMLNode::attribute_text(const std::string& name) const {
    if (auto value = get_attribute(name))
        return *value;
    set_attribute_of(node_, name, "");
    return {};
}

bool TXMLFileType::get_unzip() const {
    if (!has_child("unzip"))
        return false;
    std::string text = child_text("unzip");
    for (char& c : text)
        c = ascii_upper(c);
    return text == "TRUE";
}

TXMLNodeCollection::TXMLNodeCollection(TXMLDocumentRef document, xmlNode* parent,
                                       std::string item_tag)
    : document_(std::move(document)), parent_(parent), item_tag_(std::move(item_tag)) {}

std::vector<xmlNode*> TXMLNodeCollection::item_nodes() const {
    std::vector<xmlNode*> result;
    for (xmlNodePtr child = parent_->children; child; child = child->next) {
        if (is_element_named(child, item_tag_))
            result.push_back(child);
    }
    return result;
}

std::size_t TXMLNodeCollection::count() const {
    return item_nodes().size();
}

xmlNode* TXMLNodeCollection::item_node(std::size_t index) const {
    const std::vector<xmlNode*> nodes = item_nodes();
    if (index >= nodes.size()) {
        throw TError(format("List index out of bounds (%s)", {std::to_string(index)}));
    }
    return nodes[index];
}

void TXMLNodeCollection::delete_item(std::size_t index) {
    document_->detach(item_node(index));
}

void TXMLNodeCollection::clear() {
    for (xmlNodePtr node : item_nodes())
        document_->detach(node);
}

xmlNode* TXMLNodeCollection::add_node() {
    return append_child(parent_, item_tag_);
}

xmlNode* TXMLNodeCollection::insert_node(std::size_t index) {
    if (index == count())
        return add_node();
    return xmlAddPrevSibling(item_node(index), new_element_like(parent_, item_tag_));
}

namespace {

// The text of a plain text item; an item without text has no value.
std::string item_text(const TXMLNode& element) {
    std::string text = element.get_text();
    if (text.empty()) {
        throw TError(format("Element \"%s\" has no value", {element.local_name()}));
    }
    return text;
}

}  // namespace

std::string TXMLString_List::item(std::size_t index) const {
    return item_text(TXMLNode(document(), item_node(index)));
}

std::vector<std::string> TXMLString_List::items() const {
    std::vector<std::string> result;
    for (xmlNodePtr node : item_nodes())
        result.push_back(item_text(TXMLNode(document(), node)));
    return result;
}

TXMLNode TXMLString_List::add(const std::string& value) {
    TXMLNode element(document(), add_node());
    element.set_text(value);
    return element;
}

TXMLNode TXMLString_List::insert(std::size_t index, const std::string& value) {
    TXMLNode element(document(), insert_node(index));
    element.set_text(value);
    return element;
}

TXMLQiv_start get_qiv_start(const TXMLDocumentRef& document) {
    const std::string name = "qiv_start";
    xmlDocPtr doc = document->doc();
    xmlNodePtr root = xmlDocGetRootElement(doc);
    if (!root) {
        root = xmlNewDocNode(doc, nullptr, xml(name), nullptr);
        if (!root)
            throw TError("Out of memory while building the XML document");
        xmlDocSetRootElement(doc, root);
        xmlSetNs(root, xmlNewNs(root, xml(std::string(kQivStartNamespace)), nullptr));
    }
    if (!is_element_named(root, name)) {
        throw TError(format("The document element is not \"%s\" in the namespace \"%s\"",
                            {name, kQivStartNamespace}));
    }
    return TXMLQiv_start(document, root);
}

}  // namespace qiv_start::core
