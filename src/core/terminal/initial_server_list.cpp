#include "core/terminal/initial_server_list.h"

#include "core/support/ascii.h"

namespace qiv_start::core {

std::string initial_server_list(const std::optional<std::string>& machine_servers,
                                const std::string& default_server) {
    static const char* const kSeparators = " \t\r\n";
    std::string list;
    const std::string& text = machine_servers ? *machine_servers : std::string();
    for (auto start = text.find_first_not_of(kSeparators); start != std::string::npos;) {
        const auto end = text.find_first_of(kSeparators, start);
        list += text.substr(start, end - start) + "\r\n";
        start = text.find_first_not_of(kSeparators, end);
    }
    return list.empty() ? default_server + "\r\n" : list;
}

bool is_server_address(std::string_view line) {
    return starts_with_ignoring_ascii_case(line, "http://") ||
           starts_with_ignoring_ascii_case(line, "https://");
}

}  // namespace qiv_start::core
