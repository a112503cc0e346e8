#include "platform/process.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace qiv_start::platform {
namespace {

const char* const kOpener = "xdg-open";

// An argument vector for exec, built before fork so that the child allocates nothing.
class TArguments {
  public:
    explicit TArguments(std::vector<std::string> words) : words_(std::move(words)) {
        for (auto& word : words_)
            pointers_.push_back(word.data());
        pointers_.push_back(nullptr);
    }
    char* const* get() const { return pointers_.data(); }

  private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// Runs in the detached grandchild: only async-signal-safe calls from here on.
[[noreturn]] void exec_in_child(const char* directory, const TArguments* program,
                                const TArguments& opener) {
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::closefrom(3);
    if (directory != nullptr && ::chdir(directory) != 0)
        ::_exit(127);
    if (program != nullptr) {
        ::execv(program->get()[0], program->get());
        // Only what the system cannot run as a program or script goes to the desktop's opener.
        if (errno != ENOEXEC)
            ::_exit(127);
    }
    ::execvp(opener.get()[0], opener.get());
    ::_exit(127);
}

// Double fork: the intermediate child exits at once and is reaped here, so the started process
// belongs to init, never becomes this process's zombie and is not waited for.
void spawn_detached(const std::string& directory, const TArguments* program,
                    const TArguments& opener) {
    const char* const working = directory.empty() ? nullptr : directory.c_str();
    const pid_t child = ::fork();
    if (child < 0)
        return;
    if (child == 0) {
        ::setsid();
        if (::fork() == 0)
            exec_in_child(working, program, opener);
        ::_exit(0);
    }
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Files arrive from the repository without permission bits.
void set_owner_execute(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR);
    }
}

}  // namespace

void start_program(const std::string& directory, const std::string& file) {
    const std::string inside = file.starts_with('/') ? file : "./" + file;
    set_owner_execute(directory.empty() ? inside : directory + "/" + inside);
    const TArguments program({inside});
    const TArguments opener({kOpener, inside});
    spawn_detached(directory, &program, opener);
}

void open_url(const std::string& url) {
    const TArguments opener({kOpener, url});
    spawn_detached({}, nullptr, opener);
}

}  // namespace qiv_start::platform
