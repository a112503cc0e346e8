#include "core/config/terminal_config_prod.h"

#include <optional>
#include <vector>

#include "core/config/file_config_prod.h"
#include "core/support/ascii.h"
#include "core/support/text_codec.h"

namespace qiv_start::core {
namespace {

// The first dll entry whose name equals name exactly.
std::optional<TXMLDllType> find_dll(const std::vector<TXMLDllType>& dlls, const std::string& name) {
    for (const TXMLDllType& dll : dlls) {
        if (dll.get_name() == name)
            return dll;
    }
    return std::nullopt;
}

}  // namespace

TTerminalConfigProd::TTerminalConfigProd(TXMLTerminalType data, TXMLDllTypeList dll_data,
                                         unsigned code_page)
    : data_(std::move(data)), dll_data_(std::move(dll_data)), code_page_(code_page) {}

// Names and versions are written in UTF-8, which reached the document decoded in the 8-bit code
// page; taking them back to those bytes and reading them as UTF-8 restores the letters.
std::string TTerminalConfigProd::get_name() {
    return redecode_as_utf8(data_.get_name(), code_page_);
}

std::string TTerminalConfigProd::get_version() {
    return redecode_as_utf8(data_.get_version(), code_page_);
}

std::string TTerminalConfigProd::get_id_code() {
    return data_.get_id();
}

bool TTerminalConfigProd::is_accessed_by_all() {
    return equals_ignoring_ascii_case(data_.get_access_mode().get_value(), "all");
}

std::shared_ptr<TFileConfig> TTerminalConfigProd::get_exe_file() {
    return std::make_shared<TFileConfigProd>(data_.get_exe_file());
}

TFileConfigs TTerminalConfigProd::get_files() {
    if (files_.empty())
        files_ = build_files();
    return files_;
}

// A dll_lib that names no dll entry adds nothing: every entry must be a complete file.
TFileConfigs TTerminalConfigProd::build_files() {
    TFileConfigs files;
    for (const TXMLFileType& file : data_.get_file().items()) {
        files.push_back(std::make_shared<TFileConfigProd>(file));
    }
    const std::vector<TXMLDllType> dlls = dll_data_.items();
    for (const std::string& name : data_.get_dll_lib().items()) {
        if (auto dll = find_dll(dlls, name)) {
            files.push_back(std::make_shared<TFileConfigProd>(dll->get_file()));
        }
    }
    files.push_back(get_exe_file());
    return files;
}

}  // namespace qiv_start::core
