#include "core/support/text_codec.h"

#include "platform/text.h"

namespace qiv_start::core {
namespace {

bool starts_with(const std::string& bytes, std::string_view mark) {
    return bytes.compare(0, mark.size(), mark) == 0;
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when it is ill-formed.
std::size_t utf8_sequence(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

}  // namespace

std::string decode_text(const std::string& bytes, unsigned code_page) {
    if (starts_with(bytes, "\xEF\xBB\xBF"))
        return sanitize_utf8(bytes.substr(3));
    if (starts_with(bytes, "\xFF\xFE")) {
        return platform::decode_bytes(bytes.substr(2), platform::kCodePageUtf16Le);
    }
    if (starts_with(bytes, "\xFE\xFF")) {
        return platform::decode_bytes(bytes.substr(2), platform::kCodePageUtf16Be);
    }
    if (code_page == platform::kCodePageUtf8)
        return sanitize_utf8(bytes);
    return platform::decode_bytes(bytes, code_page);
}

std::string decode_text(const std::string& bytes) {
    return decode_text(bytes, platform::ansi_code_page());
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

std::string sanitize_utf8(const std::string& bytes) {
    std::string result;
    result.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t length = utf8_sequence(bytes, i);
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            ++i;
            // A truncated sequence counts once: skip its continuation bytes too.
            while (i < bytes.size() && (static_cast<unsigned char>(bytes[i]) & 0xC0) == 0x80 &&
                   utf8_sequence(bytes, i) == 0) {
                ++i;
            }
            continue;
        }
        result.append(bytes, i, length);
        i += length;
    }
    return result;
}

// Only a text whose bytes in the code page are well-formed UTF-8 was misread; any other (one that
// came with a byte-order mark, say) is already right and would lose its letters.
std::string redecode_as_utf8(const std::string& text, unsigned code_page) {
    const std::string bytes = platform::encode_text(text, code_page);
    const bool misread =
        platform::decode_bytes(bytes, code_page) == text && sanitize_utf8(bytes) == bytes;
    return misread ? bytes : text;
}

}  // namespace qiv_start::core
