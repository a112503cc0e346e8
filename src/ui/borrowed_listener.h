// Windows are owned by whoever creates them; the core holds listeners by shared_ptr. A window is
// handed over without ownership, so the core's reference never destroys it.
#pragma once

#include <memory>

#include "core/support/messages.h"

namespace qiv_start::ui {

inline std::shared_ptr<core::TCoreListener> borrowed_listener(core::TCoreListener* listener) {
    return std::shared_ptr<core::TCoreListener>(std::shared_ptr<void>(), listener);
}

}  // namespace qiv_start::ui
