// The Win32 cache is the string value version_file under HKCU\SOFTWARE\QIV\QIV_START, a signed
// launcher's the binary value version_file.signed. The tests use the user's real key and put back
// whatever value was there before.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/config_cache.h"
#include "platform/error.h"
#include "win32_test_support.h"

namespace qiv_start::platform {
namespace {

const wchar_t* const kKey = L"SOFTWARE\\QIV\\QIV_START";
const wchar_t* const kValue = L"version_file";
const wchar_t* const kReleaseValue = L"version_file.release";
const wchar_t* const kSerialValue = L"release_serial";
const wchar_t* const kSignedValue = L"version_file.signed";

struct TRawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

std::optional<TRawValue> read_raw(const wchar_t* name = kValue) {
    DWORD type = 0;
    DWORD size = 0;
    if (::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr,
                       &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    TRawValue value{type, std::vector<BYTE>(size)};
    ::RegGetValueW(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY | RRF_NOEXPAND, &type,
                   value.bytes.data(), &size);
    value.bytes.resize(size);
    return value;
}

void write_raw(DWORD type, const void* data, std::size_t size, const wchar_t* name = kValue) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
    ::RegCloseKey(key);
}

void delete_raw(const wchar_t* name = kValue) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, name);
}

class ConfigCacheWin32 : public ::testing::Test {
  protected:
    static constexpr const wchar_t* kNames[] = {kValue, kReleaseValue, kSerialValue, kSignedValue};

    void SetUp() override {
        for (const wchar_t* name : kNames) {
            saved_.push_back(read_raw(name));
            delete_raw(name);
        }
    }
    void TearDown() override {
        for (std::size_t i = 0; i < saved_.size(); ++i) {
            delete_raw(kNames[i]);
            if (saved_[i])
                write_raw(saved_[i]->type, saved_[i]->bytes.data(), saved_[i]->bytes.size(),
                          kNames[i]);
        }
    }

  private:
    std::vector<std::optional<TRawValue>> saved_;
};

TEST_F(ConfigCacheWin32, NoValueIsNoCache) {
    EXPECT_EQ(read_version_file(), std::nullopt);
}

TEST_F(ConfigCacheWin32, PolishTextIsStoredAsAZeroTerminatedUnicodeString) {
    const std::string text = "<qiv_start>\r\n<nazwa>Kasa – żółć ZAŻÓŁĆ</nazwa>\r\n</qiv_start>";
    write_version_file(text);
    const auto raw = read_raw();
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->type, DWORD{REG_SZ});
    const std::wstring expected =
        L"<qiv_start>\r\n<nazwa>Kasa \u2013 \u017C\u00F3\u0142\u0107 ZA\u017B\u00D3\u0141\u0106"
        L"</nazwa>\r\n</qiv_start>";
    ASSERT_EQ(raw->bytes.size(), (expected.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(raw->bytes.data()), expected.size()),
              expected);
    EXPECT_EQ(read_version_file(), text);
}

// A signed launcher keeps the document's exact bytes, which the release covers, with the release
// in one binary value. The pair that earlier versions kept apart is read while there is none; a
// text value that an unsigned launcher wrote, or either part alone, is no signed cache.
TEST_F(ConfigCacheWin32, ASignedDocumentKeepsItsExactBytesTogetherWithTheRelease) {
    const std::string bytes = "\xEF\xBB\xBF<qiv_start>\r\n<nazwa>Kasa sprzeda\xC5\xBCy</nazwa>\xFF";
    write_version_file("tekst");
    write_raw(REG_SZ, L"c2ln", 5 * sizeof(wchar_t), kReleaseValue);
    EXPECT_EQ(read_signed_version_file(), std::nullopt);
    write_raw(REG_BINARY, "earlier", 7);
    EXPECT_EQ(read_signed_version_file(), (TSignedDocument{"earlier", "c2ln"}));
    delete_raw(kReleaseValue);
    EXPECT_EQ(read_signed_version_file(), std::nullopt);

    write_signed_version_file({bytes, "c2lnbmF0dXJl\n"});
    ASSERT_EQ(read_raw(kSignedValue)->type, DWORD{REG_BINARY});
    EXPECT_EQ(read_signed_version_file(), (TSignedDocument{bytes, "c2lnbmF0dXJl\n"}));
    write_raw(REG_SZ, L"13\n", 4 * sizeof(wchar_t), kSignedValue);
    EXPECT_EQ(read_signed_version_file(), std::nullopt);
}

// Another process that writes serials one after the other is ended at whatever step; the value
// read afterwards is a whole number. A value of another type is no serial.
TEST_F(ConfigCacheWin32, TheReleaseSerialSurvivesAKillDuringItsWrite) {
    EXPECT_EQ(read_release_serial(), 0u);
    write_raw(REG_SZ, L"7", 2 * sizeof(wchar_t), kSerialValue);
    EXPECT_THROW(read_release_serial(), TIoError);
    write_release_serial(1);
    {
        const test::TChildProcess writer(L"serials");
        while (read_release_serial() < 3)
            ::Sleep(1);
    }  // ended here, as by a kill
    EXPECT_GE(read_release_serial(), 3u);
    EXPECT_EQ(read_raw(kSerialValue)->type, DWORD{REG_QWORD});
}

TEST_F(ConfigCacheWin32, LongValuesComeBackWhole) {
    std::string text;
    for (int line = 0; text.size() < 400000; ++line)
        text += "<plik nazwa=\"źródło" + std::to_string(line) + ".dll\"/>\r\n";
    write_version_file(text);
    EXPECT_EQ(read_version_file(), text);
    write_version_file("krótki");  // a shorter value replaces the long one entirely
    EXPECT_EQ(read_version_file(), "krótki");
}

TEST_F(ConfigCacheWin32, ValuesWrittenByOthersWithoutOrWithExtraZerosAreRead) {
    const std::wstring bare = L"bez zera";
    write_raw(REG_SZ, bare.data(), bare.size() * sizeof(wchar_t));
    EXPECT_EQ(read_version_file(), "bez zera");
    const wchar_t padded[] = L"zera\0\0";
    write_raw(REG_EXPAND_SZ, padded, sizeof padded);
    EXPECT_EQ(read_version_file(), "zera");
    write_raw(REG_SZ, L"", sizeof(wchar_t));
    EXPECT_EQ(read_version_file(), "");
}

TEST_F(ConfigCacheWin32, AValueOfAnotherTypeIsAnErrorNamingTheKey) {
    const DWORD number = 7;
    write_raw(REG_DWORD, &number, sizeof number);
    try {
        read_version_file();
        ADD_FAILURE() << "no error";
    } catch (const TIoError& e) {
        EXPECT_NE(std::string(e.what()).find("HKEY_CURRENT_USER\\SOFTWARE\\QIV\\QIV_START"),
                  std::string::npos)
            << e.what();
    }
}

}  // namespace
}  // namespace qiv_start::platform
