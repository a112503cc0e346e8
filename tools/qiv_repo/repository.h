// A repository's parts as the tool reads them: the configuration document with its encoding, the
// server list, and the file entries the document describes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/config/xml_binding.h"
#include "core/support/repository_names.h"

namespace qiv_start::repo {

using core::kDocumentName;
using core::kServerListName;
inline constexpr const char* kDownloadPageName = "index.html";
// The empty file that a new document's run reports ask for.
inline constexpr const char* kReportName = "qiv_start_2.report";

// How the document's bytes are stored: a byte-order mark, or none and an 8-bit code page.
struct TDocumentEncoding {
    unsigned code_page = 0;
    bool byte_order_mark = false;
};

// The document as stored and as parsed, with every element's place in the text.
struct TDocument {
    std::string bytes;  // as stored
    TDocumentEncoding encoding;
    std::string text;  // decoded to UTF-8, line ends as stored
    core::TXMLDocumentRef xml;
    std::optional<core::TXMLQiv_start> root;
};

// Reads the document as the launcher does and raises TError with the reason (and the line, when
// the parser knows it) when the launcher would refuse it. code_page: the one for a document
// without byte-order mark.
TDocument load_document(const std::string& bytes, unsigned code_page);

// The bytes of text in the encoding, with the byte-order mark when there was one.
std::string encode_document(const std::string& text, const TDocumentEncoding& encoding);

// A file description of the document, with where it stands for messages.
struct TFileEntry {
    core::TXMLFileType element;
    std::string place;  // "plik wspólny", "terminal KASA", "biblioteka raporty"
};

// Every file description present in the document, in document order within each kind: default
// files, then each terminal's executable, files and icon, then each dll's file. Adds nothing.
std::vector<TFileEntry> file_entries(const core::TXMLQiv_start& root);

// The first child element of that name in the parent's namespace, without adding one.
std::optional<core::TXMLNode> find_child(const core::TXMLNode& parent, const std::string& name);

// The line of the named child, or of the parent when it has none.
long line_of(const core::TXMLNode& parent, const std::string& name);

// A problem of a server list: its line (0 for the list as a whole) and what is wrong.
struct TServerListProblem {
    long line = 0;
    std::string text;
};
// What a workstation refuses (a line that is not an http(s) address, or no address at all: then
// it keeps its old list) and base addresses without the final slash. Empty when the list is sound.
std::vector<TServerListProblem> server_list_problems(const std::string& bytes);
// The base addresses of a server list: its non-empty lines, in order, without repeats.
std::vector<std::string> server_list_entries(const std::string& bytes);

// True for a base address that the launcher accepts and that ends with a slash.
bool is_base_address(const std::string& address);

// Path of a file of the repository folder, the name in the document's form.
std::string repository_path(const std::string& directory, const std::string& name);

}  // namespace qiv_start::repo
