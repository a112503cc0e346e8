#include "platform/desktop.h"

#if QIV_HAVE_XCB

#include <unistd.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace qiv_start::platform {
namespace {

struct TReplyFree {
    void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using TReply = std::unique_ptr<T, TReplyFree>;

struct TConnectionClose {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using TConnection = std::unique_ptr<xcb_connection_t, TConnectionClose>;

enum TAtomName {
    kClientListStacking,
    kClientList,
    kWmName,
    kUtf8String,
    kWmPid,
    kWmProtocols,
    kWmDeleteWindow,
    kAtomCount
};

constexpr std::array<const char*, kAtomCount> kAtomNames{"_NET_CLIENT_LIST_STACKING",
                                                         "_NET_CLIENT_LIST",
                                                         "_NET_WM_NAME",
                                                         "UTF8_STRING",
                                                         "_NET_WM_PID",
                                                         "WM_PROTOCOLS",
                                                         "WM_DELETE_WINDOW"};

using TAtoms = std::array<xcb_atom_t, kAtomCount>;

// All requests go out before the first answer is awaited: one round trip instead of seven.
TAtoms intern_atoms(xcb_connection_t* connection) {
    std::array<xcb_intern_atom_cookie_t, kAtomCount> cookies{};
    for (std::size_t i = 0; i < kAtomCount; ++i) {
        cookies[i] = xcb_intern_atom(
            connection, 0, static_cast<std::uint16_t>(std::strlen(kAtomNames[i])), kAtomNames[i]);
    }
    TAtoms atoms{};
    for (std::size_t i = 0; i < kAtomCount; ++i) {
        const TReply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
    return atoms;
}

// The property's value when it has the given type; empty otherwise.
TReply<xcb_get_property_reply_t> read_property(xcb_connection_t* connection, xcb_window_t window,
                                               xcb_atom_t property, xcb_atom_t type) {
    constexpr std::uint32_t kLongs = 1u << 20;  // 4 MiB: more than any list or title holds
    TReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, type, 0, kLongs), nullptr));
    if (reply && reply->type == type && type != XCB_ATOM_NONE)
        return reply;
    return nullptr;
}

std::vector<xcb_window_t> client_windows(xcb_connection_t* connection, xcb_window_t root,
                                         const TAtoms& atoms) {
    auto reply = read_property(connection, root, atoms[kClientListStacking], XCB_ATOM_WINDOW);
    if (!reply)
        reply = read_property(connection, root, atoms[kClientList], XCB_ATOM_WINDOW);
    if (!reply || reply->format != 32)
        return {};
    const auto* first = static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
    return {first, first + xcb_get_property_value_length(reply.get()) / 4};
}

std::string latin1_to_utf8(const char* text, int length) {
    std::string result;
    for (int i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            result += static_cast<char>(c);
        } else {
            result += static_cast<char>(0xC0 | (c >> 6));
            result += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return result;
}

std::string window_title(xcb_connection_t* connection, xcb_window_t window, const TAtoms& atoms) {
    if (const auto reply = read_property(connection, window, atoms[kWmName], atoms[kUtf8String])) {
        const auto* text = static_cast<const char*>(xcb_get_property_value(reply.get()));
        return std::string(text,
                           static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
    }
    if (const auto reply = read_property(connection, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING)) {
        return latin1_to_utf8(static_cast<const char*>(xcb_get_property_value(reply.get())),
                              xcb_get_property_value_length(reply.get()));
    }
    return {};
}

bool belongs_to_this_process(xcb_connection_t* connection, xcb_window_t window,
                             const TAtoms& atoms) {
    const auto reply = read_property(connection, window, atoms[kWmPid], XCB_ATOM_CARDINAL);
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return false;
    const auto pid = *static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return pid == static_cast<std::uint32_t>(::getpid());
}

void request_close(xcb_connection_t* connection, xcb_window_t window, const TAtoms& atoms) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atoms[kWmProtocols];
    event.data.data32[0] = atoms[kWmDeleteWindow];
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
}

}  // namespace

void close_windows_titled(const std::string& title) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        return;
    int screen_number = 0;
    const TConnection connection(xcb_connect(display, &screen_number));
    if (xcb_connection_has_error(connection.get()))
        return;

    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screen_number && screen.rem > 0; ++i)
        xcb_screen_next(&screen);
    if (screen.rem == 0)
        return;

    const TAtoms atoms = intern_atoms(connection.get());
    // The list runs from the bottom of the stacking order to its top.
    for (const xcb_window_t window : client_windows(connection.get(), screen.data->root, atoms)) {
        if (belongs_to_this_process(connection.get(), window, atoms))
            continue;
        if (window_title(connection.get(), window, atoms) == title) {
            request_close(connection.get(), window, atoms);
        }
    }
    // A round trip before disconnecting: a server may drop requests that a closing client left
    // unanswered.
    const TReply<xcb_get_input_focus_reply_t> synced(xcb_get_input_focus_reply(
        connection.get(), xcb_get_input_focus(connection.get()), nullptr));
}

}  // namespace qiv_start::platform

#else

namespace qiv_start::platform {

// Without X11 support there is no window to reach.
void close_windows_titled(const std::string&) {}

}  // namespace qiv_start::platform

#endif
