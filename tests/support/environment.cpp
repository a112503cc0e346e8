#include "support/environment.h"

#include <cstdlib>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

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

bool running_under_wine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

#ifdef _WIN32
TPrivateUserRegistry::TPrivateUserRegistry()
    : key_("Software\\qiv_test\\" + std::to_string(::GetCurrentProcessId()) + "_" +
           std::to_string(::GetTickCount64())) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) != ERROR_SUCCESS ||
        ::RegOverridePredefKey(HKEY_CURRENT_USER, key) != ERROR_SUCCESS) {
        throw std::runtime_error("cannot redirect HKEY_CURRENT_USER");
    }
    ::RegCloseKey(key);
}

TPrivateUserRegistry::~TPrivateUserRegistry() {
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
}
#else
TPrivateUserRegistry::TPrivateUserRegistry() = default;
TPrivateUserRegistry::~TPrivateUserRegistry() = default;
#endif

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
