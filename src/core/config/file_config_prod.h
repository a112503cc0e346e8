// One file of the configuration, read from its file description in the document.
#pragma once

#include <string>

#include "core/config/config.h"
#include "core/config/xml_binding.h"

namespace qiv_start::core {

class TFileConfigProd : public TFileConfig {
  public:
    explicit TFileConfigProd(TXMLFileType data) : data_(std::move(data)) {}

    std::string get_name() override { return data_.get_name(); }
    std::string get_hash() override { return data_.get_hash(); }
    std::string get_sha256() override { return data_.get_sha256(); }
    std::string get_relative_target_path() override { return data_.get_target_path(); }
    std::string get_relative_source_path() override { return data_.get_source_path(); }
    bool unzip() override { return data_.get_unzip(); }

  private:
    TXMLFileType data_;
};

}  // namespace qiv_start::core
