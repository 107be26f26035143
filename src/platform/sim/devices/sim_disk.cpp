#include "platform/sim/devices/sim_disk.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace tarvex::sim {

uint64_t PoweredGapMs(std::optional<int64_t> savedAtUnixMs, int64_t nowUnixMs, const SimClock& clock) {
    if (!savedAtUnixMs || clock.GetKind() == SimClock::Kind::Virtual || *savedAtUnixMs >= nowUnixMs) {
        return 0;
    }
    // In floating point: a damaged or far-off save time must not overflow the subtraction or
    // the scaling.
    const double gap = (static_cast<double>(nowUnixMs) - static_cast<double>(*savedAtUnixMs)) * clock.Speed();
    constexpr double kMax = static_cast<double>(std::numeric_limits<uint64_t>::max() / 4);
    return static_cast<uint64_t>(std::min(gap, kMax));
}

int64_t HostUnixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

SimDisk::SimDisk(const DiskProfile& profile, DriveState state, SimClock& clock, std::filesystem::path stateFile)
    : profile_(profile), state_(std::move(state)), clock_(clock), stateFile_(std::move(stateFile)),
      simClock_(clock) {
    Anchor();
    synced_ = state_;
    stamp_ = StampOf(stateFile_);
}

// The last save's powered time plus the time since, on the host's clocks; the state then
// reads as saved now, on the same line.
void SimDisk::Anchor() {
    if (simClock_.GetKind() == SimClock::Kind::Virtual) {
        baseMs_ = state_.powerOnMs;
        anchorTick_ = clock_.GetTickCount64();
        return;
    }
    const int64_t now = HostUnixMs();
    const uint64_t gap = PoweredGapMs(state_.savedAtUnixMs, now, simClock_);
    baseMs_ = state_.powerOnMs + std::min(gap, std::numeric_limits<uint64_t>::max() / 2 - state_.powerOnMs);
    anchorUnixMs_ = now;
    if (state_.savedAtUnixMs) {
        state_.powerOnMs = baseMs_;
        state_.savedAtUnixMs = now;
    }
}

// At the end of the process: the powered time of the virtual clock, and changes made past the
// storage stack (tests), are kept, unless another process replaced the file meanwhile (its
// state is newer; every command's changes were saved when it ran).
SimDisk::~SimDisk() {
    if (simClock_.GetKind() != SimClock::Kind::Virtual && !Dirty()) {
        return;
    }
    StateLock lock(LockFile());
    if (lock.Held() && StampOf(stateFile_) == stamp_) {
        std::string ignored;
        (void)Save(&ignored);
    }
}

bool SimDisk::Refresh(std::string* error) {
    const FileStamp now = StampOf(stateFile_);
    if (now == stamp_ || !now.exists) {
        return true;  // unchanged; or deleted, and the next save writes it again
    }
    std::optional<DriveState> loaded = LoadDriveState(stateFile_, error);
    if (!loaded) {
        if (error->empty()) {
            return true;  // gone between the look and the read
        }
        return false;
    }
    state_ = std::move(*loaded);
    Anchor();
    synced_ = state_;
    stamp_ = now;
    return true;
}

void SimDisk::ExecuteAta(AtaExchange& x) {
    x.regs.command = platform::kAtaStatusDrdy | platform::kAtaStatusErr;
    x.regs.features = platform::kAtaErrorAbrt;
    x.transferred = 0;
}

void SimDisk::ExecuteNvme(NvmeExchange& x) {
    x.status = 0x0001;  // invalid command opcode
    x.transferred = 0;
}

uint64_t SimDisk::NowMs() const {
    if (simClock_.GetKind() == SimClock::Kind::Virtual) {
        const uint64_t tick = clock_.GetTickCount64();
        return baseMs_ + (tick > anchorTick_ ? tick - anchorTick_ : 0);
    }
    return baseMs_ + PoweredGapMs(anchorUnixMs_, HostUnixMs(), simClock_);
}

void SimDisk::ReadSectors(uint64_t offset, std::span<uint8_t> out) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    if (!state_.hasUserData) {
        return;
    }
    for (size_t i = 0; i < out.size();) {
        const uint64_t pos = offset + i;
        const uint64_t lba = pos / 512;
        const size_t inSector = static_cast<size_t>(pos % 512);
        const size_t n = std::min(out.size() - i, 512 - inSector);
        bool trimmed = false;
        for (const auto& [first, end] : state_.trim.intervals) {
            if (lba >= first && lba < end) {
                trimmed = true;
                break;
            }
        }
        if (trimmed) {
            // Already zero.
        } else if (const uint8_t* table = table_.Sector(lba)) {
            std::copy_n(table + inSector, n, out.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            // A pattern that differs per sector and per byte, so a reader sees data.
            for (size_t k = 0; k < n; ++k) {
                out[i + k] = static_cast<uint8_t>((lba * 131) ^ ((pos + k) & 0x1FF) ^ 0x5A);
            }
        }
        i += n;
    }
}

void SimDisk::PowerOn() { ++state_.powerOns; }

bool SimDisk::Save(std::string* error, int* errnoOut) {
    const DriveState before = state_;
    state_.powerOnMs = NowMs();
    state_.savedAtUnixMs = HostUnixMs();
    std::string ignored;
    if (!SaveDriveState(stateFile_, state_, error != nullptr ? error : &ignored, errnoOut)) {
        state_.powerOnMs = before.powerOnMs;
        state_.savedAtUnixMs = before.savedAtUnixMs;
        return false;
    }
    Anchor();
    synced_ = state_;
    stamp_ = StampOf(stateFile_);
    return true;
}

}  // namespace tarvex::sim
