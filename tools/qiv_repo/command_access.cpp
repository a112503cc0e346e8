// qiv_repo access: which terminals a workstation with a given address may start, and why.
#include <cstdio>

#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/terminal/terminal_access.h"
#include "platform/files.h"
#include "platform/text.h"
#include "qiv_repo/cli.h"
#include "qiv_repo/commands.h"
#include "qiv_repo/remote.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

using core::TXMLNode;

std::string text_or_empty(const TXMLNode& parent, const std::string& name) {
    const auto child = find_child(parent, name);
    return child ? child->get_text() : std::string();
}

std::optional<std::string> read_document(const TAccessOptions& options, TConsole& console) {
    if (is_address(options.source)) {
        core::TTransportOptions transport;
        transport.ca_file = options.ca_file;
        auto bytes = fetch_bytes(options.source, kDocumentName, transport);
        if (!bytes)
            console.err << "Nie udało się pobrać " << options.source << kDocumentName << ".\n";
        return bytes;
    }
    const std::string path = repository_path(options.source, kDocumentName);
    if (!platform::file_exists(path)) {
        console.err << "Brak dokumentu " << path << ".\n";
        return std::nullopt;
    }
    return platform::read_file(path);
}

// The network that admits the address, as the launcher examines them: every network must be
// valid, or the launcher stops with an error before it lists any terminal.
std::optional<TXMLNode> admitting_network(const core::TXMLQiv_start& root, std::uint32_t address) {
    core::TNetworkCalculator calculator;
    std::optional<TXMLNode> admitting;
    for (const TXMLNode& network : root.child_elements()) {
        if (network.local_name() != "network")
            continue;
        try {
            calculator.set_mask(network.get_attribute("mask").value_or(""));
            calculator.set_network_address(network.get_attribute("ip").value_or(""));
        } catch (const core::TError& failure) {
            throw core::TError("sieć w wierszu " + std::to_string(network.line()) + ": " +
                               failure.what());
        }
        if (!admitting && calculator.contains(address))
            admitting = network;
    }
    return admitting;
}

std::string network_label(const TXMLNode& network) {
    return "sieć " + network.get_attribute("ip").value_or("") + " maska " +
           network.get_attribute("mask").value_or("") + " (wiersz " +
           std::to_string(network.line()) + ")";
}

void print_terminal(TConsole& console, const TXMLNode& terminal, bool allowed,
                    const std::string& rule) {
    char line[256];
    std::snprintf(line, sizeof line, "%-12s %-10s ", text_or_empty(terminal, "id").c_str(),
                  allowed ? "dozwolony" : "zabroniony");
    console.out << line << text_or_empty(terminal, "name") << " (wiersz " << terminal.line()
                << "): " << rule << "\n";
}

int list_terminals(const core::TXMLQiv_start& root, const std::string& ip, std::uint32_t address,
                   TConsole& console) {
    std::optional<TXMLNode> network;
    try {
        network = admitting_network(root, address);
    } catch (const core::TError& failure) {
        console.err << "qiv_start_2 zakończy się błędem przed pokazaniem terminali: "
                    << failure.what() << "\n";
        return kExitProblems;
    }
    for (const TXMLNode& terminal : root.child_elements()) {
        if (terminal.local_name() != "terminal")
            continue;
        const auto mode = find_child(terminal, "access_mode");
        const std::string value = mode ? mode->get_attribute("value").value_or("") : "";
        if (core::equals_ignoring_ascii_case(value, "all")) {
            print_terminal(console, terminal, true, "access_mode \"" + value + "\": każda stacja");
        } else if (network) {
            print_terminal(console, terminal, true,
                           "adres " + ip + " należy do: " + network_label(*network));
        } else {
            print_terminal(console, terminal, false,
                           "access_mode \"" + value + "\", a adres " + ip +
                               " nie należy do żadnej sieci z dokumentu");
        }
    }
    return kExitOk;
}

}  // namespace

int run_access(const TAccessOptions& options, TConsole& console) {
    std::uint32_t address = 0;
    try {
        address = core::parse_dotted_quad(options.ip);
    } catch (const core::TError&) {
        console.err << "\"" << options.ip << "\" nie jest adresem IPv4 (A.B.C.D).\n";
        return kExitWrongUse;
    }
    if (!is_address(options.source) && !platform::directory_exists(options.source)) {
        console.err << "Katalog \"" << options.source << "\" nie istnieje.\n";
        return kExitWrongUse;
    }
    const auto bytes = read_document(options, console);
    if (!bytes)
        return kExitProblems;
    try {
        const TDocument document = load_document(*bytes, platform::ansi_code_page());
        return list_terminals(*document.root, options.ip, address, console);
    } catch (const core::TError& failure) {
        console.err << "qiv_start_2 nie wczyta dokumentu: " << failure.what() << "\n";
        return kExitProblems;
    }
}

void add_access_command(TCommandContext& context) {
    auto options = std::make_shared<TAccessOptions>();
    CLI::App* command = add_command(
        context.app, "access",
        "Pokazuje terminale, które może uruchomić stacja o podanym adresie, z regułą, która "
        "na to pozwala albo nie.");
    command
        ->add_option("REPOZYTORIUM", options->source,
                     "Katalog repozytorium albo jego adres bazowy (http:// lub https://)")
        ->required()
        ->type_name("");
    command->add_option("--ip", options->ip, "Adres IPv4 stacji")->required()->type_name("A.B.C.D");
    add_ca_file_option(command, options->ca_file);
    run_when_chosen(command, context, options, run_access);
}

}  // namespace qiv_start::repo
