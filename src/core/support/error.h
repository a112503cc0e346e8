// The launcher's errors: every failure carries the text shown to people or written to a log.
#pragma once

#include "platform/error.h"

namespace qiv_start::core {

using TError = platform::TError;
using TIoError = platform::TIoError;
using TFileInUseError = platform::TFileInUseError;

}  // namespace qiv_start::core
