#pragma once
// An emulated NVMe SSD: the admin commands the "NvmeMini" miniport interface carries
// (Identify Controller, Identify Namespace, Get Log Page for the error, SMART / Health and
// firmware slot logs), answered from the profile. Its power-on hours grow with the clock.
// Behind the inbox driver (profile "driver": "inbox") the interface is not there at all.
#include <array>

#include "platform/sim/devices/sim_disk.h"

namespace tarvex::sim {

class NvmeDrive : public SimDisk {
public:
    NvmeDrive(const DiskProfile& profile, DriveState state, SimClock& clock, std::filesystem::path stateFile);

    bool AcceptsNvme() const override { return profile_.nvme.miniport; }
    void ExecuteNvme(NvmeExchange& x) override;

    std::array<uint8_t, 4096> IdentifyController() const;
    std::array<uint8_t, 4096> IdentifyNamespace() const;
    std::array<uint8_t, 512> SmartHealthLog() const;
    std::array<uint8_t, 512> FirmwareSlotLog() const;
};

}  // namespace tarvex::sim
