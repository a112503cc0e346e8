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

// True on Windows under wine, whose answers differ from Windows in a few places that the tests
// name where they meet them.
bool running_under_wine();

// Gives the process a private, empty HKEY_CURRENT_USER for the object's lifetime on Windows, so
// that tests neither see nor change the user's own settings; does nothing elsewhere.
class TPrivateUserRegistry {
  public:
    TPrivateUserRegistry();
    ~TPrivateUserRegistry();
    TPrivateUserRegistry(const TPrivateUserRegistry&) = delete;
    TPrivateUserRegistry& operator=(const TPrivateUserRegistry&) = delete;

  private:
    std::string key_;
};

// Sets or, given nothing, removes the variable.
void set_env(const std::string& name, const std::optional<std::string>& value);

}  // namespace qiv_start::test
