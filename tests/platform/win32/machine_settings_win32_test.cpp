// The administrator's servers under HKLM\SOFTWARE\QIV\QIV_START (64-bit view). The test writes
// the machine's real key where it may, and puts back whatever value was there.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/machine_settings.h"

namespace qiv_start::platform {
namespace {

class MachineSettingsWin32 : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QIV\\QIV_START", 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key_,
                              nullptr) != ERROR_SUCCESS) {
            GTEST_SKIP() << "HKEY_LOCAL_MACHINE is not writable for this user";
        }
        DWORD size = 0;
        if (::RegQueryValueExW(key_, L"servers", nullptr, &type_, nullptr, &size) ==
            ERROR_SUCCESS) {
            saved_.emplace(size, 0);
            ::RegQueryValueExW(key_, L"servers", nullptr, &type_, saved_->data(), &size);
        }
    }
    void TearDown() override {
        if (!key_)
            return;
        if (saved_)
            ::RegSetValueExW(key_, L"servers", 0, type_, saved_->data(),
                             static_cast<DWORD>(saved_->size()));
        else
            ::RegDeleteValueW(key_, L"servers");
        ::RegCloseKey(key_);
    }

    void set(DWORD type, const void* data, std::size_t size) {
        ::RegSetValueExW(key_, L"servers", 0, type, static_cast<const BYTE*>(data),
                         static_cast<DWORD>(size));
    }

    HKEY key_ = nullptr;
    DWORD type_ = 0;
    std::optional<std::vector<BYTE>> saved_;
};

// Catches a missing value read as an error, text that loses its non-ASCII letters or keeps the
// terminating zero, and a number taken for addresses.
TEST_F(MachineSettingsWin32, StringIsReadAsUtf8AndAnythingElseIsAnError) {
    ::RegDeleteValueW(key_, L"servers");
    EXPECT_EQ(read_machine_servers(), std::nullopt);

    const std::wstring text = L"http://a/ https://b\u0142\u0105d/";
    set(REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(read_machine_servers(), std::string("http://a/ https://b\u0142\u0105d/"));

    const DWORD number = 1;
    set(REG_DWORD, &number, sizeof number);
    EXPECT_THROW(read_machine_servers(), TIoError);
}

}  // namespace
}  // namespace qiv_start::platform
