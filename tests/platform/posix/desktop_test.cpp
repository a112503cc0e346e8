#include "platform/desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#if QIV_HAVE_XCB
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstring>
#include <memory>
#include <vector>

extern char** environ;
#endif

namespace qiv_start::platform {
namespace {

// Sets an environment variable for one test and puts the old value back afterwards.
class TScopedEnv {
  public:
    TScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~TScopedEnv() {
        if (old_) {
            ::setenv(name_, old_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(CloseWindowsTitled, WithoutReachableDisplayDoesNothing) {
    {
        TScopedEnv display("DISPLAY", nullptr);
        EXPECT_NO_THROW(close_windows_titled("qiv_start_2"));
    }
    TScopedEnv display("DISPLAY", ":4093");  // no server there
    EXPECT_NO_THROW(close_windows_titled("qiv_start_2"));
}

#if QIV_HAVE_XCB

// A private X server for one test, so that no desktop of the person running the tests is touched.
class TXvfb {
  public:
    TXvfb() {
        int pipe_fds[2];
        if (::pipe(pipe_fds) != 0)
            return;
        const std::string fd = std::to_string(pipe_fds[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const char* argv[] = {"Xvfb",    "-displayfd", fd.c_str(),   "-nolisten", "tcp",
                              "-screen", "0",          "320x240x24", nullptr};
        if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe_fds[1]);
        // The server writes its display number once it accepts clients.
        char c = 0;
        while (pid_ != 0 && ::read(pipe_fds[0], &c, 1) == 1 && c != '\n')
            display_ += c;
        ::close(pipe_fds[0]);
        if (!display_.empty())
            display_ = ":" + display_;
    }
    ~TXvfb() {
        if (pid_ == 0)
            return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    TXvfb(const TXvfb&) = delete;
    TXvfb& operator=(const TXvfb&) = delete;

    // Empty when no server could be started.
    const std::string& display() const { return display_; }

  private:
    pid_t pid_ = 0;
    std::string display_;
};

// Plays both a window manager (the client lists on the root window) and the clients that own
// the windows, and records the close requests that reach them.
class CloseWindowsX11 : public ::testing::Test {
  protected:
    void SetUp() override {
        if (server_.display().empty())
            GTEST_SKIP() << "Xvfb not available";
        connection_ = xcb_connect(server_.display().c_str(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(connection_), 0);
        screen_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    }
    void TearDown() override {
        if (connection_)
            xcb_disconnect(connection_);
    }

    xcb_atom_t atom(const char* name) {
        const auto cookie =
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
            xcb_intern_atom_reply(connection_, cookie, nullptr), &std::free);
        return reply->atom;
    }

    void set_property(xcb_window_t window, const char* name, xcb_atom_t type, std::uint8_t format,
                      std::uint32_t count, const void* data) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom(name), type, format,
                            count, data);
    }

    enum class TTitle { kNetWmName, kWmNameOnly };

    // pid 0: the window names no process.
    xcb_window_t window(const std::string& title, std::uint32_t pid,
                        TTitle kind = TTitle::kNetWmName) {
        const xcb_window_t id = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, id, screen_->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual, 0, nullptr);
        const auto length = static_cast<std::uint32_t>(title.size());
        if (kind == TTitle::kNetWmName) {
            set_property(id, "_NET_WM_NAME", atom("UTF8_STRING"), 8, length, title.data());
        } else {
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME,
                                XCB_ATOM_STRING, 8, length, title.data());
        }
        if (pid != 0)
            set_property(id, "_NET_WM_PID", XCB_ATOM_CARDINAL, 32, 1, &pid);
        return id;
    }

    void publish_list(const char* name, const std::vector<xcb_window_t>& windows) {
        set_property(screen_->root, name, XCB_ATOM_WINDOW, 32,
                     static_cast<std::uint32_t>(windows.size()), windows.data());
        xcb_flush(connection_);
    }

    // The windows asked to close, in the order of the requests, up to and including `last`.
    std::vector<xcb_window_t> close_requests_until(xcb_window_t last) {
        std::vector<xcb_window_t> windows;
        const xcb_atom_t protocols = atom("WM_PROTOCOLS");
        const xcb_atom_t delete_window = atom("WM_DELETE_WINDOW");
        pollfd watched{xcb_get_file_descriptor(connection_), POLLIN, 0};
        while (windows.empty() || windows.back() != last) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(
                xcb_poll_for_event(connection_), &std::free);
            if (!event) {
                // A limit against hanging on a missing request, not a measure of speed.
                if (::poll(&watched, 1, 10000) <= 0)
                    break;
                continue;
            }
            if ((event->response_type & 0x7F) != XCB_CLIENT_MESSAGE)
                continue;
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event.get());
            EXPECT_EQ(message->type, protocols);
            EXPECT_EQ(message->data.data32[0], delete_window);
            windows.push_back(message->window);
        }
        return windows;
    }

    static std::uint32_t own_pid() { return static_cast<std::uint32_t>(::getpid()); }
    static std::uint32_t other_pid() { return own_pid() + 1; }

    TXvfb server_;
    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
};

TEST_F(CloseWindowsX11, AsksOtherProcessesWindowsWithExactlyThatTitleBottomUp) {
    const xcb_window_t other = window("qiv_start_2", other_pid());
    const xcb_window_t own = window("qiv_start_2", own_pid());
    const xcb_window_t longer = window("qiv_start_2 - Qiv-start", other_pid());
    const xcb_window_t old_style = window("qiv_start_2", 0, TTitle::kWmNameOnly);
    const xcb_window_t capitals = window("QIV_START_2", other_pid());
    const xcb_window_t top = window("qiv_start_2", other_pid());
    publish_list("_NET_CLIENT_LIST_STACKING", {other, own, longer, old_style, capitals, top});
    publish_list("_NET_CLIENT_LIST", {top});

    TScopedEnv display("DISPLAY", server_.display().c_str());
    close_windows_titled("qiv_start_2");

    EXPECT_EQ(close_requests_until(top), (std::vector<xcb_window_t>{other, old_style, top}));
}

TEST_F(CloseWindowsX11, FallsBackToTheUnorderedClientList) {
    const xcb_window_t unrelated = window("Edytor", other_pid());
    const xcb_window_t launcher = window("qiv_start_2", other_pid());
    publish_list("_NET_CLIENT_LIST", {unrelated, launcher});

    TScopedEnv display("DISPLAY", server_.display().c_str());
    close_windows_titled("qiv_start_2");

    EXPECT_EQ(close_requests_until(launcher), std::vector<xcb_window_t>{launcher});
}

#endif

}  // namespace
}  // namespace qiv_start::platform
