// The command line: one subcommand per administrator's task, each registered by its own unit.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qiv_repo/console.h"

namespace qiv_start::repo {

// What a registered subcommand gets: the application to add itself to, the console, and the
// action to set when the command line chose it.
struct TCommandContext {
    CLI::App& app;
    TConsole& console;
    std::function<int()>& action;
};
using TCommandAdder = void (*)(TCommandContext&);

// The subcommands, in the order --help lists them. A new one adds its adder here.
const std::vector<TCommandAdder>& command_adders();

// Runs the tool with the arguments (without the program's name); returns the exit code.
int run_cli(const std::vector<std::string>& arguments, TConsole& console);

// The adders of the subcommands.
void add_new_command(TCommandContext& context);
void add_hash_command(TCommandContext& context);
void add_check_command(TCommandContext& context);
void add_verify_command(TCommandContext& context);
void add_access_command(TCommandContext& context);
void add_keygen_command(TCommandContext& context);
void add_sign_command(TCommandContext& context);
void add_publish_command(TCommandContext& context);
void add_history_command(TCommandContext& context);
void add_rollback_command(TCommandContext& context);
void add_gc_command(TCommandContext& context);
void add_push_command(TCommandContext& context);
void add_status_command(TCommandContext& context);

// A subcommand with the tool's conventions: grouped under the commands, help flag in Polish.
CLI::App* add_command(CLI::App& app, const std::string& name, const std::string& description);

// Makes run, with the options that the command line filled in, the action when the command is
// chosen.
template <class TOptions>
void run_when_chosen(CLI::App* command, TCommandContext& context, std::shared_ptr<TOptions> options,
                     int (*run)(const TOptions&, TConsole&)) {
    command->callback([options, run, &context] {
        context.action = [options, run, &console = context.console] {
            return run(*options, console);
        };
    });
}

// --ca-file: the authorities to trust over HTTPS instead of the system's.
void add_ca_file_option(CLI::App* command, std::string& ca_file);

}  // namespace qiv_start::repo
