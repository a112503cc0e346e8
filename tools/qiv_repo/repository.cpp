#include "qiv_repo/repository.h"

#include <algorithm>

#include "core/config/config_prod.h"
#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/support/paths.h"
#include "core/support/text_codec.h"
#include "platform/text.h"

namespace qiv_start::repo {
namespace {

using core::TXMLNode;

TDocumentEncoding encoding_of(const std::string& bytes, unsigned code_page) {
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0)
        return {platform::kCodePageUtf8, true};
    if (bytes.rfind("\xFF\xFE", 0) == 0)
        return {platform::kCodePageUtf16Le, true};
    if (bytes.rfind("\xFE\xFF", 0) == 0)
        return {platform::kCodePageUtf16Be, true};
    return {code_page, false};
}

std::string byte_order_mark(unsigned code_page) {
    switch (code_page) {
        case platform::kCodePageUtf16Le:
            return "\xFF\xFE";
        case platform::kCodePageUtf16Be:
            return "\xFE\xFF";
        default:
            return "\xEF\xBB\xBF";
    }
}

void read_file_config(core::TFileConfig& file) {
    file.get_name();
    file.get_hash();
    file.get_relative_target_path();
    file.unzip();
}

// Every read a start makes, so that what would fail on a workstation fails here.
void read_as_launcher(core::TConfig& config) {
    config.get_hash();
    for (const auto& file : config.get_default_files())
        read_file_config(*file);
    for (const auto& terminal : config.get_terminals()) {
        terminal->get_id_code();
        terminal->get_name();
        terminal->get_version();
        terminal->is_accessed_by_all();
        for (const auto& file : terminal->get_files())
            read_file_config(*file);
    }
    config.get_restricted_networks();
    config.get_color_btn_normal();
    config.get_color_btn_highlight();
    config.get_color_btn_text();
    config.get_color_btn_frame();
    config.get_btn_width();
    config.get_btn_height();
    config.get_margin();
    config.get_top_margin();
}

bool same_namespace(const TXMLNode& a, const TXMLNode& b) {
    return core::equals_ignoring_ascii_case(a.namespace_uri(), b.namespace_uri());
}

// Every child of that name for a repeated element; only the first for a single-valued one.
void add_entries(std::vector<TFileEntry>& entries, const TXMLNode& parent, const std::string& name,
                 const std::string& place, bool repeated) {
    for (const TXMLNode& child : parent.child_elements()) {
        if (child.local_name() == name && same_namespace(child, parent)) {
            entries.push_back({child.as<core::TXMLFileType>(), place});
            if (!repeated)
                return;
        }
    }
}

std::string text_or_empty(const TXMLNode& parent, const std::string& name) {
    try {
        const auto child = find_child(parent, name);
        return child ? child->get_text() : std::string();
    } catch (const core::TError&) {
        return {};
    }
}

}  // namespace

TDocument load_document(const std::string& bytes, unsigned code_page) {
    read_as_launcher(*core::TConfigProd::from_document(bytes, code_page));
    TDocument document;
    document.bytes = bytes;
    document.encoding = encoding_of(bytes, code_page);
    document.text = core::decode_text(bytes, code_page);
    document.xml = core::parse_xml_document_with_ranges(document.text);
    document.root = core::get_qiv_start(document.xml);
    return document;
}

std::string encode_document(const std::string& text, const TDocumentEncoding& encoding) {
    const std::string body = encoding.code_page == platform::kCodePageUtf8
                                 ? text
                                 : platform::encode_text(text, encoding.code_page);
    return encoding.byte_order_mark ? byte_order_mark(encoding.code_page) + body : body;
}

std::vector<TFileEntry> file_entries(const core::TXMLQiv_start& root) {
    std::vector<TFileEntry> entries;
    add_entries(entries, root, "default_file", "plik wspólny", true);
    for (const TXMLNode& child : root.child_elements()) {
        if (!same_namespace(child, root))
            continue;
        if (child.local_name() == "terminal") {
            const std::string place = "terminal " + text_or_empty(child, "id");
            add_entries(entries, child, "exe_file", place, false);
            add_entries(entries, child, "file", place, true);
            add_entries(entries, child, "icon_file", place, false);
        }
    }
    for (const TXMLNode& child : root.child_elements()) {
        if (child.local_name() == "dll" && same_namespace(child, root))
            add_entries(entries, child, "file", "biblioteka " + text_or_empty(child, "name"),
                        false);
    }
    return entries;
}

std::optional<TXMLNode> find_child(const TXMLNode& parent, const std::string& name) {
    for (const TXMLNode& child : parent.child_elements()) {
        if (child.local_name() == name && same_namespace(child, parent))
            return child;
    }
    return std::nullopt;
}

long line_of(const TXMLNode& parent, const std::string& name) {
    const auto child = find_child(parent, name);
    return child ? child->line() : parent.line();
}

std::vector<std::string> server_list_entries(const std::string& bytes) {
    std::vector<std::string> entries;
    for (const auto& line : core::split_lines(core::decode_text(bytes))) {
        if (!line.empty() && std::find(entries.begin(), entries.end(), line) == entries.end())
            entries.push_back(line);
    }
    return entries;
}

bool is_base_address(const std::string& address) {
    return (core::starts_with_ignoring_ascii_case(address, "http://") ||
            core::starts_with_ignoring_ascii_case(address, "https://")) &&
           address.size() > 8 && address.back() == '/';
}

std::vector<TServerListProblem> server_list_problems(const std::string& bytes) {
    std::vector<TServerListProblem> problems;
    const std::vector<std::string> lines = core::split_lines(core::decode_text(bytes));
    bool any = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const long number = static_cast<long>(i + 1);
        if (line.empty())
            continue;
        any = true;
        if (!core::starts_with_ignoring_ascii_case(line, "http://") &&
            !core::starts_with_ignoring_ascii_case(line, "https://")) {
            problems.push_back({number, "\"" + line +
                                            "\" nie jest adresem http:// ani https://; stacje "
                                            "odrzucą całą listę i zostaną przy starej"});
        } else if (line.back() != '/') {
            problems.push_back({number, "adres \"" + line + "\" nie kończy się ukośnikiem \"/\""});
        }
    }
    if (!any)
        problems.push_back({0, "lista serwerów jest pusta; stacje ją odrzucą"});
    return problems;
}

std::string repository_path(const std::string& directory, const std::string& name) {
    return core::join_path(core::native_path(directory), name);
}

}  // namespace qiv_start::repo
