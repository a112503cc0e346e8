#include "core/terminal/file_version.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

#include "core/support/error.h"
#include "platform/files.h"
#include "platform/text.h"

namespace qiv_start::core {
namespace {

const char* const kNoVersionInfo = "Nie znaleziono informacji o wersi w pliku";
const char* const kBadVersionInfo = "Błąd przy przetwarzaniu informacji o wersji";

constexpr std::uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr std::uint32_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::size_t kMaxVersionSize = 0x10000;  // a block's length is a 16-bit number

// Raised wherever the bytes do not hold what their structure promises.
struct TMalformed {};

std::uint16_t u16(std::string_view bytes, std::uint64_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2)
        throw TMalformed{};
    const auto byte = [&](std::uint64_t k) { return static_cast<std::uint8_t>(bytes[k]); };
    return static_cast<std::uint16_t>(byte(offset) | byte(offset + 1) << 8);
}

std::uint32_t u32(std::string_view bytes, std::uint64_t offset) {
    return u16(bytes, offset) | static_cast<std::uint32_t>(u16(bytes, offset + 2)) << 16;
}

// The bytes of an executable image by file offset; fewer than asked where the image ends.
class TImage {
  public:
    virtual ~TImage() = default;
    virtual std::string read(std::uint64_t offset, std::size_t size) = 0;

    std::string read_exact(std::uint64_t offset, std::size_t size) {
        std::string bytes = read(offset, size);
        if (bytes.size() != size)
            throw TMalformed{};
        return bytes;
    }
};

class TMemoryImage : public TImage {
  public:
    explicit TMemoryImage(const std::string& bytes) : bytes_(bytes) {}

    std::string read(std::uint64_t offset, std::size_t size) override {
        if (offset >= bytes_.size())
            return {};
        return bytes_.substr(static_cast<std::size_t>(offset), size);
    }

  private:
    const std::string& bytes_;
};

// Reads only the few small pieces that the lookup needs, however large the file is.
class TFileImage : public TImage {
  public:
    explicit TFileImage(const std::string& file_name) : reader_(file_name) {}

    std::string read(std::uint64_t offset, std::size_t size) override {
        reader_.seek(offset);
        std::string bytes(size, '\0');
        std::size_t done = 0;
        while (done < size) {
            const std::size_t n = reader_.read(bytes.data() + done, size - done);
            if (n == 0)
                break;
            done += n;
        }
        bytes.resize(done);
        return bytes;
    }

  private:
    platform::TFileReader reader_;
};

struct TSection {
    std::uint32_t virtual_address;
    std::uint32_t file_size;  // the part of the section that the file holds
    std::uint32_t file_offset;
};

// The section table of a PE image and the address of its resource directory.
class TPeImage {
  public:
    explicit TPeImage(TImage& image);

    // Bytes at a relative virtual address; they must lie in one section's part of the file.
    std::string read_rva(std::uint64_t rva, std::size_t size);
    // Bytes at an offset from the start of the resource directory.
    std::string read_resource(std::uint64_t offset, std::size_t size) {
        return read_rva(resource_rva_ + offset, size);
    }

  private:
    TImage& image_;
    std::vector<TSection> sections_;
    std::uint32_t resource_rva_ = 0;
};

TPeImage::TPeImage(TImage& image) : image_(image) {
    const std::string dos = image.read_exact(0, 64);
    if (dos.compare(0, 2, "MZ") != 0)
        throw TMalformed{};
    const std::uint64_t pe = u32(dos, 0x3C);
    const std::string header = image.read_exact(pe, 24);
    if (header.compare(0, 4, std::string_view("PE\0\0", 4)) != 0)
        throw TMalformed{};
    const std::uint16_t section_count = u16(header, 6);
    const std::uint16_t optional_size = u16(header, 20);
    const std::string optional = image.read_exact(pe + 24, optional_size);
    const std::uint16_t magic = u16(optional, 0);
    if (magic != 0x10B && magic != 0x20B)
        throw TMalformed{};
    const std::uint64_t directories = magic == 0x10B ? 96 : 112;  // PE32 or PE32+
    if (u32(optional, directories - 4) <= 2)
        throw TMalformed{};  // no resource directory slot
    resource_rva_ = u32(optional, directories + 2 * 8);
    if (resource_rva_ == 0)
        throw TMalformed{};
    const std::string table = image.read_exact(pe + 24 + optional_size, section_count * 40u);
    for (std::uint64_t entry = 0; entry < table.size(); entry += 40) {
        const std::uint32_t virtual_size = u32(table, entry + 8);
        const std::uint32_t raw_size = u32(table, entry + 16);
        sections_.push_back({u32(table, entry + 12),
                             virtual_size == 0 ? raw_size : std::min(virtual_size, raw_size),
                             u32(table, entry + 20)});
    }
}

std::string TPeImage::read_rva(std::uint64_t rva, std::size_t size) {
    for (const TSection& section : sections_) {
        if (rva < section.virtual_address)
            continue;
        const std::uint64_t start = rva - section.virtual_address;
        if (start < section.file_size && size <= section.file_size - start) {
            return image_.read_exact(section.file_offset + start, size);
        }
    }
    throw TMalformed{};
}

// The data field of the directory's entry with the id, or of its first entry without an id.
std::uint32_t find_entry(TPeImage& pe, std::uint32_t directory, std::optional<std::uint32_t> id) {
    const std::string header = pe.read_resource(directory, 16);
    const std::uint16_t named = u16(header, 12);
    const std::uint16_t numbered = u16(header, 14);
    const std::uint64_t first = std::uint64_t{directory} + 16;
    if (!id) {
        if (named + numbered == 0)
            throw TMalformed{};
        return u32(pe.read_resource(first, 8), 4);
    }
    const std::string entries = pe.read_resource(first + named * 8u, numbered * 8u);
    for (std::uint64_t entry = 0; entry < entries.size(); entry += 8) {
        if (u32(entries, entry) == *id)
            return u32(entries, entry + 4);
    }
    throw TMalformed{};
}

std::uint32_t subdirectory(std::uint32_t data) {
    if ((data & kSubdirectory) == 0)
        throw TMalformed{};
    return data & ~kSubdirectory;
}

// The version resource's bytes: type RT_VERSION, name 1, its first language.
std::string find_version_resource(TImage& image) {
    TPeImage pe(image);
    const std::uint32_t names = subdirectory(find_entry(pe, 0, kResourceTypeVersion));
    const std::uint32_t languages = subdirectory(find_entry(pe, names, kVersionResourceName));
    const std::uint32_t data = find_entry(pe, languages, std::nullopt);
    if ((data & kSubdirectory) != 0)
        throw TMalformed{};
    const std::string entry = pe.read_resource(data, 16);
    const std::uint32_t size = u32(entry, 4);
    if (size == 0)
        throw TMalformed{};
    return pe.read_rva(u32(entry, 0), std::min<std::size_t>(size, kMaxVersionSize));
}

std::string resource_of(TImage& image) {
    try {
        return find_version_resource(image);
    } catch (const TMalformed&) {
        throw TError(kNoVersionInfo);
    }
}

// One node of the version information tree, as offsets into the resource's bytes.
struct TBlock {
    std::size_t end;  // one past its last byte
    std::size_t key;  // its zero-terminated UTF-16 name
    std::size_t value;
    std::uint16_t value_length;  // in characters for a text, else in bytes
    std::size_t children;
};

std::size_t align4(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

TBlock parse_block(std::string_view data, std::size_t start, std::size_t limit) {
    const std::uint16_t length = u16(data, start);
    if (length < 6 || length > limit - start)
        throw TMalformed{};
    TBlock block{start + length, start + 6, 0, u16(data, start + 2), 0};
    std::size_t key_end = block.key;
    for (; key_end + 2 <= block.end && u16(data, key_end) != 0; key_end += 2) {
    }
    if (key_end + 2 > block.end)
        throw TMalformed{};
    block.value = align4(key_end + 2);
    const bool text = u16(data, start + 4) == 1;
    const std::size_t value_bytes = text ? block.value_length * std::size_t{2} : block.value_length;
    block.children = std::min(align4(block.value + value_bytes), block.end);
    return block;
}

char ascii_lower(std::uint16_t c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Keys are compared ignoring letter case, as the system's version functions do.
bool key_is(std::string_view data, const TBlock& block, std::string_view name) {
    std::size_t position = block.key;
    for (const char c : name) {
        const std::uint16_t unit = u16(data, position);
        if (unit > 0x7F || ascii_lower(unit) != ascii_lower(static_cast<std::uint8_t>(c))) {
            return false;
        }
        position += 2;
    }
    return u16(data, position) == 0;
}

std::optional<TBlock> find_child(std::string_view data, const TBlock& parent,
                                 std::string_view name) {
    std::size_t position = parent.children;
    // A zero length is padding after the last child.
    while (parent.end - position >= 6 && u16(data, position) != 0) {
        const TBlock child = parse_block(data, position, parent.end);
        if (key_is(data, child, name))
            return child;
        position = std::min(align4(child.end), parent.end);
    }
    return std::nullopt;
}

std::optional<TBlock> find_path(std::string_view data, TBlock block,
                                std::initializer_list<std::string_view> path) {
    for (const std::string_view name : path) {
        const std::optional<TBlock> child = find_child(data, block, name);
        if (!child)
            return std::nullopt;
        block = *child;
    }
    return block;
}

std::string hex4(std::uint16_t number) {
    static const char* const kDigits = "0123456789abcdef";
    std::string text(4, '0');
    for (int i = 3; i >= 0; --i, number >>= 4)
        text[static_cast<std::size_t>(i)] = kDigits[number & 0xF];
    return text;
}

// The text up to its terminating zero, handed over in the workstation's code page as the
// system's version functions would: characters the code page lacks come back replaced.
std::string text_of(std::string_view data, const TBlock& block) {
    if (block.value >= block.end)
        throw TMalformed{};
    std::string utf16;
    for (std::size_t position = block.value; position + 2 <= block.end; position += 2) {
        if (u16(data, position) == 0)
            break;
        utf16.append(data.substr(position, 2));
    }
    const std::string text = platform::decode_bytes(utf16, platform::kCodePageUtf16Le);
    const unsigned code_page = platform::ansi_code_page();
    return platform::decode_bytes(platform::encode_text(text, code_page), code_page);
}

std::string file_version_of(std::string_view data) {
    const TBlock root = parse_block(data, 0, data.size());
    // The fixed file information is not used, but a resource without it is not trusted.
    if (root.value_length == 0 || root.value + root.value_length > root.end)
        throw TMalformed{};
    const auto translation = find_path(data, root, {"VarFileInfo", "Translation"});
    if (!translation || translation->value_length < 4 ||
        translation->value + 4 > translation->end) {
        throw TMalformed{};
    }
    const std::string table =
        hex4(u16(data, translation->value)) + hex4(u16(data, translation->value + 2));
    const auto file_version = find_path(data, root, {"StringFileInfo", table, "FileVersion"});
    if (!file_version || file_version->value_length == 0)
        throw TMalformed{};
    return text_of(data, *file_version);
}

std::string version_of(const std::string& resource) {
    try {
        return file_version_of(resource);
    } catch (const TMalformed&) {
        throw TError(kBadVersionInfo);
    }
}

}  // namespace

std::string get_file_version(const std::string& file_name) {
    std::string resource;
    try {
        TFileImage image(file_name);
        resource = resource_of(image);
    } catch (const TIoError&) {
        throw TError(kNoVersionInfo);
    }
    return version_of(resource);
}

std::string get_version_from_bytes(const std::string& bytes) {
    TMemoryImage image(bytes);
    return version_of(resource_of(image));
}

}  // namespace qiv_start::core
