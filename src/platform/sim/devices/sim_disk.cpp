#include "platform/sim/devices/sim_disk.h"

#include <algorithm>

namespace tarvex::sim {

SimDisk::SimDisk(const DiskProfile& profile, DriveState state, platform::Clock& clock,
                 std::filesystem::path stateFile)
    : profile_(profile), state_(std::move(state)), clock_(clock), stateFile_(std::move(stateFile)),
      baseMs_(state_.powerOnMs), tickAtStart_(clock.GetTickCount64()) {}

SimDisk::~SimDisk() { Save(); }

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
    const uint64_t tick = clock_.GetTickCount64();
    return baseMs_ + (tick > tickAtStart_ ? tick - tickAtStart_ : 0);
}

void SimDisk::ReadSectors(uint64_t offset, std::span<uint8_t> out) {
    std::fill(out.begin(), out.end(), uint8_t{0});
    if (!state_.hasUserData) {
        return;
    }
    for (size_t i = 0; i < out.size(); ++i) {
        const uint64_t pos = offset + i;
        const uint64_t lba = pos / 512;
        bool trimmed = false;
        for (const auto& [first, end] : state_.trim.intervals) {
            if (lba >= first && lba < end) {
                trimmed = true;
                break;
            }
        }
        if (!trimmed) {
            // A pattern that differs per sector and per byte, so a reader sees data.
            out[i] = static_cast<uint8_t>((lba * 131) ^ (pos & 0x1FF) ^ 0x5A);
        }
    }
}

bool SimDisk::Save(std::string* error) {
    state_.powerOnMs = NowMs();
    std::string ignored;
    return SaveDriveState(stateFile_, state_, error != nullptr ? error : &ignored);
}

}  // namespace tarvex::sim
