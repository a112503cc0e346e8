#include "core/support/listener_collection.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "support/recording_listener.h"

namespace qiv_start::core {
namespace {

using test::TRecordingListener;
using TCollection = TListenerCollection<TCoreMessage>;

class TFailingListener : public TCoreListener {
  public:
    void notify(const TCoreMessage&) override {
        ++calls;
        throw std::runtime_error("listener broken");
    }
    int calls = 0;
};

TEST(ListenerCollection, EmptyCollectionAcceptsMessages) {
    TCollection collection;
    EXPECT_NO_THROW(collection.notify(TCoreMessage(info, "x")));
}

TEST(ListenerCollection, DeliversInOrderOfAdditionAndOnceEvenWhenAddedTwice) {
    auto log = std::make_shared<std::vector<std::string>>();
    class TTagged : public TCoreListener {
      public:
        TTagged(std::shared_ptr<std::vector<std::string>> log, std::string tag)
            : log_(std::move(log)), tag_(std::move(tag)) {}
        void notify(const TCoreMessage& m) override { log_->push_back(tag_ + m.get_value()); }

      private:
        std::shared_ptr<std::vector<std::string>> log_;
        std::string tag_;
    };
    auto first = std::make_shared<TTagged>(log, "1:");
    auto second = std::make_shared<TTagged>(log, "2:");
    TCollection collection;
    collection.add(first);
    collection.add(second);
    collection.add(first);
    collection.add(nullptr);
    collection.notify(TCoreMessage(info, "a"));
    EXPECT_EQ(*log, (std::vector<std::string>{"1:a", "2:a"}));
}

TEST(ListenerCollection, FailingListenerDoesNotStopTheOthersNorTheSender) {
    auto failing = std::make_shared<TFailingListener>();
    auto recording = std::make_shared<TRecordingListener>();
    TCollection collection;
    collection.add(failing);
    collection.add(recording);
    EXPECT_NO_THROW(collection.notify(TCoreMessage(error, "e1")));
    EXPECT_NO_THROW(collection.notify(TCoreMessage(error, "e2")));
    EXPECT_EQ(failing->calls, 2);
    EXPECT_EQ(recording->lines, (std::vector<std::string>{"błąd: e1", "błąd: e2"}));
}

TEST(ListenerCollection, RemoveTakesOutOnlyThatObject) {
    auto kept = std::make_shared<TRecordingListener>();
    auto removed = std::make_shared<TRecordingListener>();
    auto never_added = std::make_shared<TRecordingListener>();
    TCollection collection;
    collection.add(kept);
    collection.add(removed);
    collection.remove(never_added);
    // Another handle to the same object is the same listener.
    collection.remove(std::shared_ptr<TCoreListener>(removed, removed.get()));
    collection.notify(TCoreMessage(info, "m"));
    EXPECT_EQ(kept->lines.size(), 1u);
    EXPECT_TRUE(removed->lines.empty());
    EXPECT_TRUE(never_added->lines.empty());
}

TEST(ListenerCollection, NestedCollectionsDeliverThroughAFailingMember) {
    auto window = std::make_shared<TFailingListener>();
    auto log = std::make_shared<TRecordingListener>();
    auto application = std::make_shared<TCollection>();
    application->add(window);
    application->add(log);
    TCollection controller;
    controller.add(application);
    controller.notify(TCoreMessage(warning, "w"));
    EXPECT_EQ(window->calls, 1);
    EXPECT_EQ(log->lines, (std::vector<std::string>{"uwaga: w"}));
}

TEST(ListenerCollection, ListenerMayRemoveItselfWhileNotified) {
    TCollection collection;
    auto after = std::make_shared<TRecordingListener>();
    class TLeaving : public TCoreListener {
      public:
        explicit TLeaving(TCollection& owner) : owner_(owner) {}
        void notify(const TCoreMessage&) override { owner_.remove(self.lock()); }
        std::weak_ptr<TCoreListener> self;

      private:
        TCollection& owner_;
    };
    auto leaving = std::make_shared<TLeaving>(collection);
    leaving->self = leaving;
    collection.add(leaving);
    collection.add(after);
    collection.notify(TCoreMessage(info, "1"));
    collection.notify(TCoreMessage(info, "2"));
    EXPECT_EQ(after->lines.size(), 2u);
}

}  // namespace
}  // namespace qiv_start::core
