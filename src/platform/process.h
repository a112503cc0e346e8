// The running process and the programs it starts.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qiv_start::platform {

// The command line after the program's own path, UTF-8, each argument as the system passed it.
// argc and argv are main's; Windows reads its wide command line instead, so that no character is
// lost to the ANSI code page.
std::vector<std::string> command_line_arguments(int argc, char* argv[]);

// Full path of the running executable.
std::string executable_path();

// What the platform adds to a program's name: ".exe" on Windows, nothing on POSIX.
std::string executable_suffix();

// Starts file (a name inside directory) with directory as its working directory and does not
// wait for it. Raises TError with the system's reason when the program cannot be started.
void start_program(const std::string& directory, const std::string& file);

// Starts the program at path (absolute) with the arguments, in the current working directory, and
// does not wait for it; never through a shell, so a file that is no program is not run. Its file
// counts as running (is_program_running) for as long as the program runs. Raises TError with the
// system's reason when it cannot be started.
void start_program_with(const std::string& path, const std::vector<std::string>& arguments);

// Runs the program at path (absolute) with the arguments, in directory, never through a shell,
// and waits for it to end: its exit code (128 and the signal's number for one that a signal
// ended). Raises TError with the system's reason when it cannot be started.
int run_program(const std::string& path, const std::vector<std::string>& arguments,
                const std::string& directory);

// Runs the program (a name looked up on the search path, or a path) with the arguments, never
// through a shell, and waits for it to end; returns its exit code (-1 when a signal ended it).
// Raises TError with the system's reason when it cannot be started.
int run_tool(const std::string& program, const std::vector<std::string>& arguments);

// True when the file is a program of the running one's kind, which the system runs itself: on
// Windows a PE image for the same machine, elsewhere an ELF image of the same class, byte order
// and machine. A script, a text or another platform's program is not. False when unreadable.
bool is_native_program(const std::string& path);

// True while a program started from the file with start_program_with runs (on Windows, while any
// program runs from it); false also when there is no such file.
bool is_program_running(const std::string& path);

// Sets a variable of this process's environment, which the programs it starts inherit.
void set_environment(const std::string& name, const std::string& value);
// The variable's value, removed from this process's environment; nothing when it is not set.
std::optional<std::string> take_environment(const std::string& name);

// Opens an address in the user's browser; failures are not reported.
void open_url(const std::string& url);

// Ends the process at once with the exit code: no destructors, no exit handlers, no waiting for
// its other threads, whatever they hold. What was written to files stays written.
[[noreturn]] void end_process_now(int exit_code);

}  // namespace qiv_start::platform
