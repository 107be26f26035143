#pragma once
// One emulated disk as the storage stack sees it: the ATA commands a pass-through request
// carries reach it as an AtaExchange, NVMe admin commands of the miniport interface as an
// NvmeExchange. Every disk keeps its changes in its state file.
//
// The emulated PC stays on between runs of the program: a new process that builds the machine
// finds its drives as the last one left them, powered all along. A drive powers on only when
// its state is made for the first time and when the machine is power-cycled (PowerOn).
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>

#include "platform/ata_requests.h"
#include "platform/clock.h"
#include "platform/sim/devices/drive_profile.h"
#include "platform/sim/devices/drive_state.h"
#include "platform/sim/devices/partition_table.h"
#include "platform/sim/sim_clock.h"

namespace tarvex::sim {

enum class AtaData { None, In, Out };

// One ATA command between the host adapter and the drive.
struct AtaExchange {
    platform::AtaTaskFile regs;  // in: the command; out: status where the command was, error
                                 // where the features were, other registers as the drive left them
    AtaData direction = AtaData::None;  // the data phase the request announces
    std::span<uint8_t> data;            // the data-out bytes, or room for the data in
    uint32_t transferred = 0;           // bytes the drive moved
};

// One NVMe admin command of the "NvmeMini" interface.
struct NvmeExchange {
    const uint32_t* command = nullptr;  // the 16 dwords of the submission queue entry
    std::span<uint8_t> data;            // room for the data the command returns
    uint32_t transferred = 0;
    uint16_t status = 0;  // NVMe status field (status code type << 8 | status code); 0 success
};

// The powered milliseconds that the host wall time from a save at `savedAtUnixMs` to
// `nowUnixMs` is worth on `clock`: the gap times the clock's speed (1 on the real clock), none
// on the virtual clock (tests stay deterministic), none when the save time is unknown or lies
// ahead (the host clock went back).
uint64_t PoweredGapMs(std::optional<int64_t> savedAtUnixMs, int64_t nowUnixMs, const SimClock& clock);
// The host's wall time in Unix milliseconds.
int64_t HostUnixMs();

class SimDisk {
public:
    // A state that was saved before carries on from there: the time since that save is added
    // to the drive's powered time, so whatever ran in the background has gone on meanwhile.
    SimDisk(const DiskProfile& profile, DriveState state, SimClock& clock, std::filesystem::path stateFile);
    virtual ~SimDisk();
    SimDisk(const SimDisk&) = delete;
    SimDisk& operator=(const SimDisk&) = delete;

    [[nodiscard]] const DiskProfile& Profile() const { return profile_; }
    [[nodiscard]] const DriveState& State() const { return state_; }

    // False when the disk does not speak ATA (the adapter refuses the request).
    virtual bool AcceptsAta() const { return false; }
    virtual void ExecuteAta(AtaExchange& x);
    // False when the driver does not know the "NvmeMini" interface.
    virtual bool AcceptsNvme() const { return false; }
    virtual void ExecuteNvme(NvmeExchange& x);

    // Raw sectors for ReadFile on the disk: the partition table where it lies, a pattern in
    // the other written sectors; erased and trimmed ones read as zeros (an erase takes the
    // partition table with it).
    void ReadSectors(uint64_t offset, std::span<uint8_t> out);
    // Before the host reads the media: lets the clock finish what the drive does in the
    // background; false while the drive cannot serve reads (an erase runs).
    virtual bool MediaReady() { return true; }
    // The partition table the disk carries (built from the volumes on it).
    void SetPartitionSectors(PartitionSectors table) { table_ = std::move(table); }

    // Writes the state file now (also done after every change and when the disk goes away).
    bool Save(std::string* error = nullptr);

    // The drive is switched on: counts the power-on and applies what a drive does at power-on
    // (each kind adds its own). The caller saves.
    virtual void PowerOn();

protected:
    // Milliseconds this drive has been powered, over every run.
    [[nodiscard]] uint64_t NowMs() const;
    [[nodiscard]] uint64_t PowerOnHours() const { return NowMs() / 3600000; }
    void Changed() { Save(); }

    const DiskProfile& profile_;
    DriveState state_;
    platform::Clock& clock_;

private:
    std::filesystem::path stateFile_;
    PartitionSectors table_;
    uint64_t baseMs_;
    uint64_t tickAtStart_;
};

}  // namespace tarvex::sim
