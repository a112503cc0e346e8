// One terminal of the configuration, read from its terminal element in the document.
#pragma once

#include <string>

#include "core/config/config.h"
#include "core/config/xml_binding.h"

namespace qiv_start::core {

class TTerminalConfigProd : public TTerminalConfig {
  public:
    // dll_data: the document's dll entries, which dll_lib references name. code_page: the one the
    // document was decoded in; names and versions are re-decoded with it.
    TTerminalConfigProd(TXMLTerminalType data, TXMLDllTypeList dll_data, unsigned code_page);

    std::string get_name() override;
    std::string get_version() override;
    std::string get_id_code() override;
    bool is_accessed_by_all() override;
    std::shared_ptr<TFileConfig> get_exe_file() override;
    // Own files, then the file of each named dll, then the executable; built once.
    TFileConfigs get_files() override;

  private:
    TFileConfigs build_files();

    TXMLTerminalType data_;
    TXMLDllTypeList dll_data_;
    unsigned code_page_;
    TFileConfigs files_;
};

}  // namespace qiv_start::core
