// Drives another program's windows the way a user would, for the end-to-end runs on Windows.
//   window_tool wait TITLE             waits until a visible top-level window has exactly TITLE
//   window_tool gone TITLE             waits until no visible window has that title
//   window_tool size TITLE W H         waits until its client area is W by H pixels
//   window_tool click TITLE X Y        clicks the left mouse button at X,Y of its client area
//   window_tool key TITLE VK           presses and releases the virtual key VK (decimal)
//   window_tool close TITLE            asks the window to close, as its close button does
//   window_tool shot TITLE FILE        saves the window, frame included, as a PNG picture
//   window_tool count TITLE            prints how many visible windows have that title
// Waits are bounded (60 s); the exit code is 0 on success, 1 otherwise.
#include <windows.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct TSearch {
    const wchar_t* title;
    std::vector<HWND> found;
};

BOOL CALLBACK collect(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<TSearch*>(parameter);
    wchar_t buffer[256] = {};
    ::GetWindowTextW(window, buffer, 256);
    if (::IsWindowVisible(window) && std::wstring(buffer) == search->title)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> windows_titled(const wchar_t* title) {
    TSearch search{title, {}};
    ::EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

template <class Condition>
bool wait_until(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

HWND wait_for(const wchar_t* title) {
    HWND window = nullptr;
    wait_until([&] {
        const auto found = windows_titled(title);
        window = found.empty() ? nullptr : found.front();
        return window != nullptr;
    });
    return window;
}

void send(INPUT input) {
    ::SendInput(1, &input, sizeof input);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void mouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    send(input);
}

void keyboard(WORD key, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = flags;
    send(input);
}

bool has_client_size(HWND window, int width, int height) {
    return wait_until([&] {
        RECT rect{};
        return ::GetClientRect(window, &rect) && rect.right == width && rect.bottom == height;
    });
}

// A window that lies over the point, such as one of a program that has just ended and that wine
// has not yet taken away, would take the click instead.
bool click(HWND window, int x, int y) {
    POINT point{x, y};
    ::ClientToScreen(window, &point);
    const bool uncovered = wait_until([&] {
        ::SetForegroundWindow(window);
        return ::GetAncestor(::WindowFromPoint(point), GA_ROOT) == window;
    });
    if (!uncovered)
        return false;
    ::SetCursorPos(point.x, point.y);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    mouse(MOUSEEVENTF_LEFTDOWN);
    mouse(MOUSEEVENTF_LEFTUP);
    return true;
}

bool press(HWND window, WORD key) {
    ::SetForegroundWindow(window);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    keyboard(key, 0);
    keyboard(key, KEYEVENTF_KEYUP);
    return true;
}

void put_u32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void put_chunk(std::string& out, const char* type, const std::string& data) {
    put_u32(out, static_cast<std::uint32_t>(data.size()));
    const std::string body = type + data;
    out += body;
    put_u32(out, static_cast<std::uint32_t>(
                     crc32(0, reinterpret_cast<const Bytef*>(body.data()), body.size())));
}

// An 8-bit RGB picture: rows of "no filter" and the pixels, compressed.
std::string png(int width, int height, const std::vector<std::uint8_t>& bgra) {
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back('\0');
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* pixel = &bgra[4 * (static_cast<std::size_t>(y) * width + x)];
            raw.append({static_cast<char>(pixel[2]), static_cast<char>(pixel[1]),
                        static_cast<char>(pixel[0])});
        }
    }
    uLongf size = compressBound(raw.size());
    std::string packed(size, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
              reinterpret_cast<const Bytef*>(raw.data()), raw.size(), 9);
    packed.resize(size);
    std::string header;
    put_u32(header, static_cast<std::uint32_t>(width));
    put_u32(header, static_cast<std::uint32_t>(height));
    header.append({8, 2, 0, 0, 0});
    std::string out = "\x89PNG\r\n\x1a\n";
    put_chunk(out, "IHDR", header);
    put_chunk(out, "IDAT", packed);
    put_chunk(out, "IEND", "");
    return out;
}

// Copies the window's rectangle from the screen, as a user's screenshot would.
bool shot(HWND window, const wchar_t* file) {
    ::SetForegroundWindow(window);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    RECT rect{};
    ::GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> pixels(4 * static_cast<std::size_t>(width) * height);
    ::SelectObject(memory, old);
    const int rows = ::GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    if (rows != height)
        return false;
    std::ofstream(file, std::ios::binary) << png(width, height, pixels);
    return true;
}

int run(int argc, wchar_t** argv) {
    const std::wstring command = argv[1];
    const wchar_t* title = argv[2];
    if (command == L"gone")
        return wait_until([&] { return windows_titled(title).empty(); }) ? 0 : 1;
    if (command == L"count") {
        std::printf("%zu\n", windows_titled(title).size());
        return 0;
    }
    HWND window = wait_for(title);
    if (window == nullptr)
        return 1;
    if (command == L"wait")
        return 0;
    if (command == L"size" && argc == 5)
        return has_client_size(window, _wtoi(argv[3]), _wtoi(argv[4])) ? 0 : 1;
    if (command == L"close")
        return ::PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    if (command == L"click" && argc == 5)
        return click(window, _wtoi(argv[3]), _wtoi(argv[4])) ? 0 : 1;
    if (command == L"key" && argc == 4)
        return press(window, static_cast<WORD>(_wtoi(argv[3]))) ? 0 : 1;
    if (command == L"shot" && argc == 4)
        return shot(window, argv[3]) ? 0 : 1;
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: window_tool wait|gone|size|click|key|close|shot|count TITLE ...\n",
                   stderr);
        return 1;
    }
    return run(argc, argv);
}
