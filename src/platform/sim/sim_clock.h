#pragma once
// The emulated PC's clock. Three kinds:
//  - real: the host's time; Sleep sleeps.
//  - scaled: runs `speed` times faster than real time, from a start time; Sleep(ms) sleeps
//    ms / speed of real time, so a demo or a scripted check can age the PC quickly.
//  - virtual: time stands still until something sleeps; Sleep advances it at once (tests).
// The emulated devices read their time from the same clock.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/clock.h"

namespace tarvex::sim {

class SimClock : public platform::Clock {
public:
    enum class Kind { Real, Scaled, Virtual };

    // `startUnixMs`: the wall time at creation (ignored by Real, where the host's time runs).
    SimClock(Kind kind, double speed, int64_t startUnixMs, uint64_t bootTickMs);
    static SimClock Virtual(int64_t startUnixMs, uint64_t bootTickMs = 600000) {
        return SimClock(Kind::Virtual, 1.0, startUnixMs, bootTickMs);
    }

    uint32_t GetTickCount() override { return static_cast<uint32_t>(GetTickCount64()); }
    uint64_t GetTickCount64() override;
    platform::FileTime GetSystemTimeAsFileTime() override;
    int64_t Time() override;
    void Sleep(uint32_t milliseconds) override;

    [[nodiscard]] Kind GetKind() const { return kind_; }
    [[nodiscard]] double Speed() const { return speed_; }
    // Milliseconds of emulated time since the clock was made.
    [[nodiscard]] int64_t ElapsedMs() const;
    // Virtual clock only: moves time forward without a Sleep.
    void Advance(uint64_t milliseconds);
    // How many Sleep calls were made (tests check that polling loops wait).
    [[nodiscard]] uint64_t SleepCount() const { return sleeps_.load(); }

private:
    int64_t NowUnixMs() const;

    Kind kind_;
    double speed_;
    int64_t startUnixMs_;
    uint64_t bootTickMs_;
    std::chrono::steady_clock::time_point realStart_;
    std::atomic<int64_t> virtualElapsedMs_{0};
    std::atomic<uint64_t> sleeps_{0};
};

// The clock speed of a running PC, kept in <state>/clock.json ({"version": 1, "speed": S}),
// so that every program on the PC ages its drives at one rate. Only the host's clocks record
// it; the virtual clock of tests does not.
//
// Records `speed` when the PC has none yet; true when it runs at `speed` already. False with
// `error` set when it runs at another speed, unless `allowChange` (the program is about to
// power-cycle the PC, which records its own speed: WriteSpeedFile).
bool JoinClockSpeed(const std::filesystem::path& file, double speed, bool allowChange, std::string* error);
bool WriteSpeedFile(const std::filesystem::path& file, double speed, std::string* error);

}  // namespace tarvex::sim
