// A listener that passes every message on to several listeners, in the order they were added.
#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "core/support/messages.h"

namespace qiv_start::core {

template <class T>
class TListenerCollection : public TListener<T> {
  public:
    // Adds the listener unless this very object is already held; an empty pointer is no listener.
    void add(const std::shared_ptr<TListener<T>>& listener) {
        if (listener && find(listener) == listeners_.end())
            listeners_.push_back(listener);
    }

    void remove(const std::shared_ptr<TListener<T>>& listener) {
        const auto found = find(listener);
        if (found != listeners_.end())
            listeners_.erase(found);
    }

    // One failing listener must not keep the message from the others, nor fail the sender.
    void notify(const T& messageContent) override {
        const auto receivers = listeners_;  // a listener may change the collection while notified
        for (const auto& listener : receivers) {
            try {
                listener->notify(messageContent);
            } catch (...) {
            }
        }
    }

  private:
    using TListeners = std::vector<std::shared_ptr<TListener<T>>>;

    typename TListeners::iterator find(const std::shared_ptr<TListener<T>>& listener) {
        return std::find_if(listeners_.begin(), listeners_.end(),
                            [&](const auto& held) { return held.get() == listener.get(); });
    }

    TListeners listeners_;
};

}  // namespace qiv_start::core
