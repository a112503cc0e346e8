// The running process and the programs it starts.
#pragma once

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
// does not wait for it. Raises TError with the system's reason when it cannot be started.
void start_program_with(const std::string& path, const std::vector<std::string>& arguments);

// Opens an address in the user's browser; failures are not reported.
void open_url(const std::string& url);

// Ends the process at once with the exit code: no destructors, no exit handlers, no waiting for
// its other threads, whatever they hold. What was written to files stays written.
[[noreturn]] void end_process_now(int exit_code);

}  // namespace qiv_start::platform
