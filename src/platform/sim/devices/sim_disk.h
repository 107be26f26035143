#pragma once
// One emulated disk as the storage stack sees it: the ATA commands a pass-through request
// carries reach it as an AtaExchange, NVMe admin commands of the miniport interface as an
// NvmeExchange. Every disk keeps its changes in its state file.
//
// The emulated PC stays on between runs of the program: a new process that builds the machine
// finds its drives as the last one left them, powered all along. A drive powers on only when
// its state is made for the first time and when the machine is power-cycled (PowerOn).
//
// Several processes may drive one disk at once. The storage stack runs each command under the
// disk's lock file (LockFile): Refresh takes in what another process saved, the command runs,
// and a changed state is saved (Dirty, Save) before the lock is let go.
//
// One time base for every process: on the host's clocks the drive's powered time is a line
// through (powerOnMs, savedAtUnixMs) of the last save, rising at the clock's speed with the
// host's wall time, so every process reading the file sees the same time. On the virtual clock
// (tests) it is the last saved time plus what this process's clock advanced since.
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
#include "platform/sim/state_files.h"

namespace tarvex::sim {

using platform::AtaData;

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

    // Writes the state file now (the caller holds the lock). `errnoOut` gets the errno of a
    // failed write.
    bool Save(std::string* error = nullptr, int* errnoOut = nullptr);
    // Takes in the state file when another process replaced it since this one last read or
    // wrote it; false with `error` set when it cannot be read or is damaged.
    bool Refresh(std::string* error);
    // The state differs from what the file holds.
    [[nodiscard]] bool Dirty() const { return !(state_ == synced_); }
    // Drops the changes not saved: back to what the file holds.
    void Revert() { state_ = synced_; }
    [[nodiscard]] std::filesystem::path LockFile() const { return stateFile_.string() + ".lock"; }

    // The drive is switched on: counts the power-on and applies what a drive does at power-on
    // (each kind adds its own). The caller saves.
    virtual void PowerOn();

protected:
    // Milliseconds this drive has been powered, over every run.
    [[nodiscard]] uint64_t NowMs() const;
    [[nodiscard]] uint64_t PowerOnHours() const { return NowMs() / 3600000; }
    // A command changed the state; the storage stack saves it when the command is done.
    void Changed() {}

    const DiskProfile& profile_;
    DriveState state_;
    platform::Clock& clock_;

private:
    // Sets the time base from state_ (just read or written).
    void Anchor();

    std::filesystem::path stateFile_;
    FileStamp stamp_;     // the file as this process last read or wrote it
    DriveState synced_;   // the state the file holds
    SimClock& simClock_;
    PartitionSectors table_;
    uint64_t baseMs_ = 0;
    uint64_t anchorTick_ = 0;     // virtual clock: the tick at the anchor
    int64_t anchorUnixMs_ = 0;    // host clocks: the host time at the anchor
};

}  // namespace tarvex::sim
