#include "platform/sim/sim_clock.h"

#include <thread>

namespace tarvex::sim {

SimClock::SimClock(Kind kind, double speed, int64_t startUnixMs, uint64_t bootTickMs)
    : kind_(kind), speed_(kind == Kind::Scaled ? speed : 1.0), startUnixMs_(startUnixMs),
      bootTickMs_(bootTickMs), realStart_(std::chrono::steady_clock::now()) {}

int64_t SimClock::ElapsedMs() const {
    if (kind_ == Kind::Virtual) {
        return virtualElapsedMs_.load();
    }
    auto real = std::chrono::steady_clock::now() - realStart_;
    double ms = std::chrono::duration<double, std::milli>(real).count();
    return static_cast<int64_t>(ms * speed_);
}

int64_t SimClock::NowUnixMs() const {
    if (kind_ == Kind::Real) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    return startUnixMs_ + ElapsedMs();
}

uint64_t SimClock::GetTickCount64() { return bootTickMs_ + static_cast<uint64_t>(ElapsedMs()); }

platform::FileTime SimClock::GetSystemTimeAsFileTime() {
    return platform::FileTimeFromUnixMs(NowUnixMs());
}

int64_t SimClock::Time() {
    int64_t ms = NowUnixMs();
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

void SimClock::Sleep(uint32_t milliseconds) {
    sleeps_.fetch_add(1);
    if (kind_ == Kind::Virtual) {
        virtualElapsedMs_.fetch_add(milliseconds);
        // Let other threads see the new time and run, as a real sleep would.
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(
        std::chrono::duration<double, std::milli>(static_cast<double>(milliseconds) / speed_));
}

void SimClock::Advance(uint64_t milliseconds) {
    if (kind_ == Kind::Virtual) {
        virtualElapsedMs_.fetch_add(static_cast<int64_t>(milliseconds));
    }
}

}  // namespace tarvex::sim
