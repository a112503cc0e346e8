#include "platform/clock.h"

#include "platform/win32/wide.h"

namespace qiv_start::platform {

TLocalTime local_time_now() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
            now.wMinute, now.wSecond, now.wMilliseconds};
}

}  // namespace qiv_start::platform
