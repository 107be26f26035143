#include "platform/sim/sim_clock.h"

#include <cmath>
#include <sstream>
#include <thread>

#include "platform/sim/json_reader.h"
#include "platform/sim/state_files.h"

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

namespace {

constexpr int kSpeedFileVersion = 1;

std::string SpeedText(double speed) {
    std::ostringstream v;
    v << speed;
    return v.str();
}

// Speeds pass through the environment as text of six significant digits (children of the
// program), so they match within that precision.
bool SameSpeed(double a, double b) { return std::fabs(a - b) <= 1e-5 * std::max(std::fabs(a), std::fabs(b)); }

}  // namespace

bool WriteSpeedFile(const std::filesystem::path& file, double speed, std::string* error) {
    nlohmann::json j = {{"version", kSpeedFileVersion}, {"speed", speed}};
    if (!ReplaceFile(file, j.dump() + "\n", error)) {
        *error = "cannot record the clock speed: " + *error;
        return false;
    }
    return true;
}

bool JoinClockSpeed(const std::filesystem::path& file, double speed, bool allowChange, std::string* error) {
    StateLock lock(file.string() + ".lock");
    if (!lock.Held()) {
        *error = lock.Error();
        return false;
    }
    std::string text;
    switch (ReadStateFile(file, &text, error, 4096)) {
        case ReadResult::Missing: return WriteSpeedFile(file, speed, error);
        case ReadResult::Unreadable: *error = file.string() + ": cannot read the clock speed: " + *error; return false;
        case ReadResult::Ok: break;
    }
    double running = 0;
    try {
        const nlohmann::json j = ParseJsonText(text);
        JsonObject o(j, "$");
        if (o.Int("version", 0, 1000000) != kSpeedFileVersion) {
            throw JsonError("$.version", "unsupported version");
        }
        running = o.Number("speed", 0.001, 1000000.0);
        o.Finish();
    } catch (const std::exception& e) {
        *error = file.string() + ": the clock speed is damaged (" + e.what() +
                 "); delete it or power-cycle the PC (tarvexctl machine --power-cycle)";
        return false;
    }
    if (SameSpeed(running, speed) || allowChange) {
        return true;
    }
    *error = "the emulated PC in " + file.parent_path().string() + " runs at clock speed " + SpeedText(running) +
             ", not " + SpeedText(speed) + " (TARVEX_SPEED): run at its speed, or power-cycle it first (" +
             "TARVEX_SPEED=" + SpeedText(speed) + " tarvexctl machine --power-cycle)";
    return false;
}

}  // namespace tarvex::sim
