#include "core/terminal/look_ahead.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/recording_listener.h"

namespace qiv_start::core {
namespace {

using test::TRecordingListener;
using ::testing::ElementsAre;

constexpr std::size_t kNone = TLookAhead::kNoPredecessor;

void send(TCoreListener& listener, const std::string& text) {
    listener.notify(TCoreMessage(info, text));
}

// Later files finish first; the turns still see every file's messages in file order, no more
// than `depth` files are worked on at once, none beyond the window, and a file held back for
// another starts only after that file's turn.
TEST(LookAhead, TurnsSeeTheMessagesInFileOrderWithinTheBounds) {
    constexpr std::size_t kFiles = 12;
    constexpr std::size_t kDepth = 3;
    constexpr std::size_t kWindow = 5;
    std::vector<std::size_t> after(kFiles, kNone);
    after[9] = 8;
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<std::size_t> turns_over{0};
    std::atomic<bool> nine_too_early{false};
    std::atomic<bool> beyond_window{false};
    TLookAhead look_ahead(
        after, kDepth, kWindow, [&](std::size_t file, TCoreListener& record, std::stop_token) {
            // A plain load-then-store could lose a higher count written in between.
            const int now = ++running;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {
            }
            if (file == 9 && turns_over.load() < 9)
                nine_too_early = true;
            if (file >= turns_over.load() + kWindow)
                beyond_window = true;
            const std::string number = std::to_string(file);
            send(record, "a" + number);
            std::this_thread::sleep_for(std::chrono::milliseconds(2 * (kFiles - file)));
            send(record, "b" + number);
            --running;
        });
    TRecordingListener listener;
    for (std::size_t file = 0; file < kFiles; ++file) {
        look_ahead.follow(file, listener);
        turns_over = file + 1;
        look_ahead.finish(file);
    }
    std::vector<std::string> expected;
    for (std::size_t file = 0; file < kFiles; ++file) {
        expected.push_back("informacja: a" + std::to_string(file));
        expected.push_back("informacja: b" + std::to_string(file));
    }
    EXPECT_EQ(listener.lines, expected);
    EXPECT_LE(most.load(), static_cast<int>(kDepth));
    EXPECT_FALSE(nine_too_early);
    EXPECT_FALSE(beyond_window);
}

// An error of a preparation comes out of its turn, after what it sent; ending the look-ahead
// then stops the preparations under way and starts no other.
TEST(LookAhead, ErrorComesOutAtItsTurnAndTheEndStopsTheRest) {
    std::atomic<int> started{0};
    std::atomic<int> stopped{0};
    TRecordingListener listener;
    {
        TLookAhead look_ahead(std::vector<std::size_t>(10, kNone), 3, 3,
                              [&](std::size_t file, TCoreListener& record, std::stop_token stop) {
                                  ++started;
                                  if (file == 0) {
                                      send(record, "zero");
                                      throw std::runtime_error("broken");
                                  }
                                  while (!stop.stop_requested())
                                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                  ++stopped;
                              });
        EXPECT_THROW(look_ahead.follow(0, listener), std::runtime_error);
    }
    EXPECT_THAT(listener.lines, ElementsAre("informacja: zero"));
    // A worker that had not taken its file when the end came takes none.
    EXPECT_LE(started.load(), 3);
    EXPECT_EQ(stopped.load(), started.load() - 1);
}

}  // namespace
}  // namespace qiv_start::core
