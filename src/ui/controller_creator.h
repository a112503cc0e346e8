// How the windows and the start-up sequence obtain a controller for a listener.
#pragma once

#include <functional>
#include <memory>

#include "core/terminal/controller.h"

namespace qiv_start::ui {

using TControllerCreator =
    std::function<std::shared_ptr<core::TController>(const std::shared_ptr<core::TCoreListener>&)>;

}  // namespace qiv_start::ui
