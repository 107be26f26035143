#pragma once
// Time as the program sees it: the tick count, the wall clock and Sleep. Every wait of the
// system (self-test polling, erase polling, fill-file waits) goes through Sleep, so a virtual
// clock makes tests instant and a scaled clock runs an emulated PC faster than real time.
#include <cstdint>

#include "platform/filetime.h"

namespace tarvex::platform {

class Clock {
public:
    virtual ~Clock() = default;

    // GetTickCount: milliseconds since the PC started, wrapping at 2^32.
    virtual uint32_t GetTickCount() = 0;
    // Milliseconds since the PC started, without the wrap.
    virtual uint64_t GetTickCount64() = 0;
    // GetSystemTimeAsFileTime: the current UTC time.
    virtual FileTime GetSystemTimeAsFileTime() = 0;
    // The C runtime's time(): seconds since 1970-01-01 UTC.
    virtual int64_t Time() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

}  // namespace tarvex::platform
