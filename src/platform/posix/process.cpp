#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/posix/private_group.h"

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

// The descriptor through which the started program's exec failure reaches the launcher; it
// closes on a successful exec, so an empty read means the program runs.
constexpr int kReportDescriptor = 3;
// Where a started program keeps the descriptor that holds its own file, and where the launcher
// keeps it meanwhile: above the descriptors that the child arranges.
constexpr int kHoldDescriptor = 4;
constexpr int kHoldFirst = 10;

// Tells the launcher why the program could not be run, then ends the child.
[[noreturn]] void report_and_exit(int report) {
    const int error_number = errno;
    [[maybe_unused]] const ssize_t written = ::write(report, &error_number, sizeof error_number);
    ::_exit(127);
}

// What the detached grandchild runs: the program, else (or instead) the opener, if any, with
// the file it is to hold while it runs, if any (-1).
struct TLaunch {
    const char* directory = nullptr;
    const TArguments* program = nullptr;
    const TArguments* opener = nullptr;
    int hold = -1;
    // The program's file as the launcher checked it: the program's path must still name it.
    int checked = -1;
};

// True when the path names the file that the descriptor holds.
bool names_checked_file(const char* path, int checked) {
    struct stat named {
    }, held{};
    return ::stat(path, &named) == 0 && ::fstat(checked, &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

// Runs in the detached grandchild: only async-signal-safe calls from here on.
[[noreturn]] void exec_in_child(const TLaunch& launch, int report) {
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    if (report != kReportDescriptor && ::dup3(report, kReportDescriptor, O_CLOEXEC) < 0)
        report_and_exit(report);
    if (launch.hold >= 0 && ::dup2(launch.hold, kHoldDescriptor) < 0)
        report_and_exit(kReportDescriptor);
    if (launch.directory != nullptr && ::chdir(launch.directory) != 0)
        report_and_exit(kReportDescriptor);
    if (launch.checked >= 0 && !names_checked_file(launch.program->get()[0], launch.checked)) {
        errno = ESTALE;
        report_and_exit(kReportDescriptor);
    }
    ::closefrom(launch.hold >= 0 ? kHoldDescriptor + 1 : kReportDescriptor + 1);
    if (launch.program != nullptr) {
        ::execv(launch.program->get()[0], launch.program->get());
        // Only what the system cannot run as a program or script goes to the desktop's opener.
        if (errno != ENOEXEC || launch.opener == nullptr)
            report_and_exit(kReportDescriptor);
    }
    ::execvp(launch.opener->get()[0], launch.opener->get());
    report_and_exit(kReportDescriptor);
}

// The error number the started program's child reported, 0 when its exec succeeded.
int read_report(int report) {
    int error_number = 0;
    ssize_t got = 0;
    do {
        got = ::read(report, &error_number, sizeof error_number);
    } while (got < 0 && errno == EINTR);
    return got == static_cast<ssize_t>(sizeof error_number) ? error_number : 0;
}

// Double fork: the intermediate child exits at once and is reaped here, so the started process
// belongs to init, never becomes this process's zombie and is not waited for. Returns the error
// number of a failed start, 0 when the program runs.
int spawn_detached(const TLaunch& launch) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return errno;
    const pid_t child = ::fork();
    if (child < 0) {
        const int error_number = errno;
        ::close(report[0]);
        ::close(report[1]);
        return error_number;
    }
    if (child == 0) {
        ::setsid();
        if (::fork() == 0)
            exec_in_child(launch, report[1]);
        ::_exit(0);
    }
    ::close(report[1]);
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    const int error_number = read_report(report[0]);
    ::close(report[0]);
    return error_number;
}

// Why no one but the user or root could have changed the file since it was checked, or why
// someone could: a file reached without a link, with no other name to write it through, that
// only the user or root may write.
std::optional<std::string> foreign_file(const struct stat& info) {
    if (!S_ISREG(info.st_mode))
        return "not a regular file";
    if (info.st_nlink != 1)
        return "the file has another name";
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return "the file belongs to another user";
    if ((info.st_mode & S_IWOTH) != 0 ||
        ((info.st_mode & S_IWGRP) != 0 && !posix::is_private_group(info.st_gid)))
        return "others may write the file";
    return std::nullopt;
}

// The terminal's program, opened without following a link and checked through that descriptor;
// files arrive from the repository without permission bits, and the user's execute bit is set
// through it too. Raises TError with the reason.
int open_checked_program(const std::string& path) {
    const int opened = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (opened < 0)
        throw TError(std::strerror(errno));
    // Above the descriptors that the child arranges.
    const int fd = ::fcntl(opened, F_DUPFD_CLOEXEC, kHoldFirst);
    const int error_number = errno;
    ::close(opened);
    if (fd < 0)
        throw TError(std::strerror(error_number));
    struct stat info {};
    std::optional<std::string> refusal;
    if (::fstat(fd, &info) != 0)
        refusal = std::strerror(errno);
    else
        refusal = foreign_file(info);
    if (!refusal && ::fchmod(fd, (info.st_mode & 07777) | S_IXUSR) != 0)
        refusal = std::strerror(errno);
    if (refusal) {
        ::close(fd);
        throw TError(*refusal);
    }
    return fd;
}

// Files arrive from the repository without permission bits.
void set_owner_execute(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR);
    }
}

// A shared lock on the program's file, which the started program inherits: it holds the file
// from before its start for as long as it runs. -1 with errno set when the file cannot be held.
int hold_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const int hold = ::fcntl(fd, F_DUPFD_CLOEXEC, kHoldFirst);
    const int error_number = errno;
    ::close(fd);
    errno = error_number;
    if (hold < 0)
        return -1;
    while (::flock(hold, LOCK_SH) != 0) {
        if (errno != EINTR) {
            const int lock_error = errno;
            ::close(hold);
            errno = lock_error;
            return -1;
        }
    }
    return hold;
}

}  // namespace

void start_program(const std::string& directory, const std::string& file) {
    const std::string inside = file.starts_with('/') ? file : "./" + file;
    const int checked = open_checked_program(directory.empty() ? inside : directory + "/" + inside);
    const TArguments program({inside});
    const TArguments opener({kOpener, inside});
    TLaunch launch{directory.empty() ? nullptr : directory.c_str(), &program, &opener, -1, checked};
    const int error_number = spawn_detached(launch);
    ::close(checked);
    if (error_number != 0)
        throw TError(std::strerror(error_number));
}

void start_program_with(const std::string& path, const std::vector<std::string>& arguments) {
    set_owner_execute(path);
    std::vector<std::string> words{path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const TArguments program(std::move(words));
    const int hold = hold_file(path);
    if (hold < 0)
        throw TError(std::strerror(errno));
    const int error_number = spawn_detached({nullptr, &program, nullptr, hold});
    ::close(hold);
    if (error_number != 0)
        throw TError(std::strerror(error_number));
}

int run_program(const std::string& path, const std::vector<std::string>& arguments,
                const std::string& directory) {
    std::vector<std::string> words{path};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const TArguments program(std::move(words));
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        throw TError(std::strerror(errno));
    const pid_t child = ::fork();
    if (child == 0)
        exec_in_child({directory.c_str(), &program}, report[1]);
    const int fork_error = child < 0 ? errno : 0;
    ::close(report[1]);
    const int error_number = child < 0 ? fork_error : read_report(report[0]);
    ::close(report[0]);
    int status = 0;
    while (child > 0 && ::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (error_number != 0)
        throw TError(std::strerror(error_number));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int run_tool(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const TArguments argv(std::move(words));
    pid_t child = 0;
    const int error_number =
        ::posix_spawnp(&child, program.c_str(), nullptr, nullptr, argv.get(), environ);
    if (error_number != 0)
        throw TError(program + ": " + std::strerror(error_number));
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            throw TError(program + ": " + std::strerror(errno));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void open_url(const std::string& url) {
    const TArguments opener({kOpener, url});
    static_cast<void>(spawn_detached({nullptr, nullptr, &opener}));
}

void end_process_now(int exit_code) {
    ::_exit(exit_code);
}

}  // namespace qiv_start::platform
