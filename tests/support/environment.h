// Environment variables for one test.
#pragma once

#include <optional>
#include <string>

namespace qiv_start::test {

// Sets (or, given nothing, removes) an environment variable and puts the former state back when
// destroyed.
class TScopedEnv {
  public:
    TScopedEnv(std::string name, const std::optional<std::string>& value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Sets or, given nothing, removes the variable.
void set_env(const std::string& name, const std::optional<std::string>& value);

}  // namespace qiv_start::test
