#include "platform/text.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace qiv_start::platform {
namespace {

const char* kReplacementUtf8 = "\xEF\xBF\xBD";

std::string iconv_name(unsigned code_page) {
    switch (code_page) {
        case kCodePageUtf8:
            return "UTF-8";
        case kCodePageUtf16Le:
            return "UTF-16LE";
        case kCodePageUtf16Be:
            return "UTF-16BE";
        case 20127:
            return "ASCII";
        case 20866:
            return "KOI8-R";
    }
    if (code_page >= 28591 && code_page <= 28606) {
        return "ISO-8859-" + std::to_string(code_page - 28590);
    }
    return "CP" + std::to_string(code_page);
}

// The number that follows prefix in codeset, or 0.
unsigned number_after(const std::string& codeset, std::string_view prefix) {
    if (codeset.rfind(prefix, 0) != 0)
        return 0;
    unsigned number = 0;
    const char* end = codeset.data() + codeset.size();
    const auto [rest, error] = std::from_chars(codeset.data() + prefix.size(), end, number);
    return error == std::errc{} && rest == end ? number : 0;
}

unsigned code_page_of(std::string codeset) {
    for (auto& c : codeset)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (codeset == "UTF-8" || codeset == "UTF8" || codeset == "ANSI_X3.4-1968" ||
        codeset == "ASCII" || codeset.empty()) {
        return kCodePageUtf8;
    }
    if (const unsigned part = number_after(codeset, "ISO-8859-"); part >= 1 && part <= 16) {
        return 28590 + part;
    }
    if (const unsigned code_page = number_after(codeset, "CP"); code_page != 0)
        return code_page;
    if (codeset == "KOI8-R")
        return 20866;
    return kCodePageUtf8;
}

std::size_t utf8_sequence_length(const char* text, std::size_t size) {
    std::size_t length = 1;
    while (length < size && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
        ++length;
    return length;
}

class TIconv {
  public:
    TIconv(const std::string& to, const std::string& from)
        : handle_(::iconv_open(to.c_str(), from.c_str())) {
        if (handle_ == reinterpret_cast<iconv_t>(-1)) {
            throw TError("Unsupported code page: " + (to == "UTF-8" ? from : to));
        }
    }
    ~TIconv() { ::iconv_close(handle_); }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;

    // Converts input; an input unit that cannot be converted (unit_size bytes, or one whole
    // UTF-8 sequence when unit_size is 0) is replaced by what replace makes of it.
    template <class TReplace>
    std::string convert(const std::string& input, std::size_t unit_size, TReplace replace) {
        std::string output;
        output.reserve(input.size() * 2 + 16);
        char* in = const_cast<char*>(input.data());
        std::size_t in_left = input.size();
        char buffer[4096];
        while (in_left > 0) {
            char* out = buffer;
            std::size_t out_left = sizeof buffer;
            const std::size_t result = ::iconv(handle_, &in, &in_left, &out, &out_left);
            output.append(buffer, static_cast<std::size_t>(out - buffer));
            if (result != static_cast<std::size_t>(-1) || errno == E2BIG)
                continue;
            // EILSEQ or EINVAL: skip one unit (or the incomplete tail) and mark it.
            const std::size_t skip =
                std::min(unit_size != 0 ? unit_size : utf8_sequence_length(in, in_left), in_left);
            output += replace(std::string_view(in, skip));
            in += skip;
            in_left -= skip;
            ::iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        }
        return output;
    }

  private:
    iconv_t handle_;
};

bool is_utf16(unsigned code_page) {
    return code_page == kCodePageUtf16Le || code_page == kCodePageUtf16Be;
}

// Windows maps the bytes 0x80..0x9F that a single-byte code page leaves undefined (0x81 in
// CP1250, say) to the characters U+0080..U+009F and back; glibc refuses them. Doing the same
// here keeps text that went through such a code page intact, as it is on Windows.
bool is_c1_byte(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F;
}

}  // namespace

unsigned ansi_code_page() {
    static const unsigned code_page = [] {
        const char* previous = std::setlocale(LC_CTYPE, nullptr);
        const std::string saved = previous ? previous : "C";
        std::setlocale(LC_CTYPE, "");
        const unsigned result = code_page_of(::nl_langinfo(CODESET));
        std::setlocale(LC_CTYPE, saved.c_str());
        return result;
    }();
    return code_page;
}

std::string decode_bytes(const std::string& bytes, unsigned code_page) {
    TIconv converter("UTF-8", iconv_name(code_page));
    const bool single_byte = !is_utf16(code_page);
    return converter.convert(bytes, single_byte ? 1 : 2, [&](std::string_view unit) {
        const auto byte = static_cast<unsigned char>(unit[0]);
        if (single_byte && is_c1_byte(byte))
            return std::string{'\xC2', static_cast<char>(byte)};
        return std::string(kReplacementUtf8);
    });
}

std::string encode_text(const std::string& text, unsigned code_page) {
    TIconv converter(iconv_name(code_page), "UTF-8");
    const std::string question_mark = code_page == kCodePageUtf16Le   ? std::string("?\0", 2)
                                      : code_page == kCodePageUtf16Be ? std::string("\0?", 2)
                                                                      : std::string("?");
    return converter.convert(text, 0, [&](std::string_view unit) {
        const bool c1 = unit.size() == 2 && static_cast<unsigned char>(unit[0]) == 0xC2 &&
                        is_c1_byte(static_cast<unsigned char>(unit[1]));
        return c1 && !is_utf16(code_page) ? std::string(1, unit[1]) : question_mark;
    });
}

}  // namespace qiv_start::platform
