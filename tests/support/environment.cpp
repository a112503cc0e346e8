#include "support/environment.h"

#include <cstdlib>

namespace qiv_start::test {

// Windows has no setenv; an empty value given to _putenv_s removes the variable there.
void set_env(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    ::_putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
#endif
}

TScopedEnv::TScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
    if (const char* previous = std::getenv(name_.c_str()))
        previous_ = previous;
    set_env(name_, value);
}

TScopedEnv::~TScopedEnv() {
    set_env(name_, previous_);
}

}  // namespace qiv_start::test
