#include "core/terminal/look_ahead.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/download/downloader.h"
#include "core/terminal/synchroniser.h"
#include "support/content_digests.h"
#include "support/recording_listener.h"
#include "support/scripted_config.h"
#include "support/temp_dir.h"

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
        after, kDepth, kWindow, kWindow,
        [&](std::size_t file, TCoreListener& record, std::stop_token) {
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
            return TLookAhead::TStep::ended();
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
        TLookAhead look_ahead(std::vector<std::size_t>(10, kNone), 3, 3, 3,
                              [&](std::size_t file, TCoreListener& record, std::stop_token stop) {
                                  ++started;
                                  if (file == 0) {
                                      send(record, "zero");
                                      throw std::runtime_error("broken");
                                  }
                                  while (!stop.stop_requested())
                                      std::this_thread::sleep_for(std::chrono::milliseconds(1));
                                  ++stopped;
                                  return TLookAhead::TStep::ended();
                              });
        EXPECT_THROW(look_ahead.follow(0, listener), std::runtime_error);
    }
    EXPECT_THAT(listener.lines, ElementsAre("informacja: zero"));
    // A worker that had not taken its file when the end came takes none.
    EXPECT_LE(started.load(), 3);
    EXPECT_EQ(stopped.load(), started.load() - 1);
}

// Ending while downloads are under way: steps that wait for a slot never run, and the end waits
// for the suspended preparations, whose rests run once they are resumed, slots or not.
TEST(LookAhead, EndDropsWhatWaitsForASlotAndWaitsForWhatIsSuspended) {
    constexpr std::size_t kSlots = 2;
    std::mutex mutex;
    std::vector<std::size_t> suspended;
    std::stop_token stopping;
    std::atomic<int> slotted{0};
    std::atomic<int> rests{0};
    TRecordingListener listener;
    std::thread resumer;
    {
        TLookAhead look_ahead(std::vector<std::size_t>(6, kNone), 2, 6, kSlots,
                              [&](std::size_t file, TCoreListener&, std::stop_token stop) {
                                  if (file == 0)
                                      throw std::runtime_error("broken");
                                  return TLookAhead::TStep::after_slot([&, file, stop] {
                                      ++slotted;
                                      std::lock_guard lock(mutex);
                                      suspended.push_back(file);
                                      stopping = stop;
                                      return TLookAhead::TStep::suspended();
                                  });
                              });
        // Resumes what is suspended once the end has asked for a stop, as downloads end then.
        resumer = std::thread([&] {
            for (;;) {
                {
                    std::lock_guard lock(mutex);
                    if (suspended.size() == kSlots && stopping.stop_requested())
                        break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            for (const std::size_t file : suspended) {
                look_ahead.resume(file, [&rests] {
                    ++rests;
                    return TLookAhead::TStep::ended();
                });
            }
        });
        EXPECT_THROW(look_ahead.follow(0, listener), std::runtime_error);
    }
    EXPECT_EQ(rests.load(), static_cast<int>(kSlots));
    resumer.join();
    EXPECT_EQ(slotted.load(), static_cast<int>(kSlots));
}

#ifdef __linux__
// The threads of the process, as Linux lists them.
std::size_t thread_count() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// Holds the downloads in flight until as many are as a multiplexed connection carries at once;
// then they end, and every later one at once, on the thread that started it. It has no thread
// of its own.
class TGate {
  public:
    explicit TGate(std::size_t size) : size_(size) {}

    void start(const std::string& file_name, TStream& stream,
               const TDownloader::TFinished& finished) {
        std::vector<TDownload> ending;
        {
            std::lock_guard lock(mutex_);
            waiting_.push_back({file_name, &stream, finished});
            if (++in_flight_ == size_)
                threads_when_full_ = thread_count();
            if (threads_when_full_ != 0)
                ending.swap(waiting_);
        }
        for (const TDownload& download : ending) {
            download.stream->write(download.name.data(), download.name.size());
            download.stream->accept();
            download.stream->set_position(0);
            download.finished();
        }
    }
    // The threads of the process once the gate was full; 0 while it was not.
    std::size_t threads_when_full() {
        std::lock_guard lock(mutex_);
        return threads_when_full_;
    }

  private:
    struct TDownload {
        std::string name;
        TStream* stream;
        TDownloader::TFinished finished;
    };
    std::size_t size_;
    std::mutex mutex_;
    std::vector<TDownload> waiting_;
    std::size_t in_flight_ = 0;
    std::size_t threads_when_full_ = 0;
};

class TGatedDownloader : public TDownloader {
  public:
    explicit TGatedDownloader(TGate& gate) : gate_(gate) {}

    void start_download_as(const std::string& file_name, const std::string&, TStream& stream,
                           const TFinished& finished) override {
        gate_.start(file_name, stream, finished);
    }
    // Every file goes ahead.
    void download_file_from_server(const std::string&, TStream&) override { ADD_FAILURE(); }
    void download_file_from(const std::string&, const std::string&, TStream&) override {
        ADD_FAILURE();
    }
    bool multiplexes() const override { return true; }

  private:
    TGate& gate_;
};

// Over a multiplexed connection the downloads in flight grow to what it carries at once, while
// the look-ahead's threads stay as few as over one connection per download.
TEST(LookAhead, ThreadsStayFewWhileAMultiplexedConnectionCarriesItsMostDownloads) {
    test::TTempDir dir;
    const test::TCurrentDir current(dir.path());
    TFileSection section{"pliki", {}};
    for (std::size_t i = 0; i < kMaxMultiplexedTransfers + kMaxTransfers; ++i) {
        const std::string name = "plik" + std::to_string(i) + ".txt";
        section.files.push_back(
            std::make_shared<test::TScriptedFile>(name, "dane", test::md5_of(name)));
    }
    TGate gate(kMaxMultiplexedTransfers);
    const auto listener = std::make_shared<TRecordingListener>();
    TSynchroniser synchroniser(std::make_shared<TGatedDownloader>(gate), listener, false,
                               [&gate](std::shared_ptr<TCoreListener>, std::stop_token) {
                                   return std::make_unique<TGatedDownloader>(gate);
                               });
    const std::size_t before = thread_count();

    synchroniser.synchronise({section});

    ASSERT_NE(gate.threads_when_full(), 0u);
    EXPECT_LE(gate.threads_when_full() - before, kMaxTransfers);
    for (const auto& file : section.files)
        EXPECT_TRUE(synchroniser.is_verified("dane/" + file->get_name())) << file->get_name();
}
#endif

}  // namespace
}  // namespace qiv_start::core
