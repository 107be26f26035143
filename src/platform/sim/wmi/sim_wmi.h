#pragma once
// WMI of the emulated PC: the COM steps the program takes (initialise COM, create the
// locator, connect to ROOT\CIMV2, set the proxy blanket), WQL queries over the classes of
// the profile, and the faults the profile scripts for any of those steps.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/wmi.h"
#include "platform/sim/machine_profile.h"
#include "platform/sim/volumes/sim_volumes.h"
#include "platform/sim/wmi/wmi_catalog.h"

namespace tarvex::sim {

inline constexpr int32_t CO_E_NOTINITIALIZED = static_cast<int32_t>(0x800401F0u);
inline constexpr int32_t RPC_E_CHANGED_MODE = static_cast<int32_t>(0x80010106u);
inline constexpr int32_t WBEM_E_INVALID_QUERY_TYPE = static_cast<int32_t>(0x80041018u);

class SimWmi : public platform::Wmi {
public:
    // `profile` and `volumes` must outlive the object; `host` is the computer name.
    SimWmi(const MachineProfile& profile, VolumeListing& volumes, std::u16string host);

    int32_t CoInitializeEx(uint32_t coInit) override;
    void CoUninitialize() override;
    int32_t CreateLocator(std::unique_ptr<platform::WmiLocator>* locator) override;

    // The query step, shared by the service objects.
    int32_t ExecQuery(std::u16string_view language, std::u16string_view query,
                      std::unique_ptr<platform::WmiEnumerator>* rows);
    // The error of the first scripted fault for `step` that still strikes (0 when none).
    int32_t TakeFault(WmiFaultProfile::On step, std::u16string_view className = {});

    // Tests: the recent query texts (up to 4096) in the order they came, and how many COM initialisations the
    // calling thread holds.
    std::vector<std::u16string> Queries();
    int ComInitCount();

private:
    struct ComState {
        int count = 0;
        uint32_t mode = 0;
    };

    WmiCatalog catalog_;
    std::vector<WmiFaultProfile> faults_;
    std::mutex mutex_;
    std::vector<uint32_t> faultUses_;
    std::map<std::thread::id, ComState> com_;
    std::vector<std::u16string> queries_;
};

}  // namespace tarvex::sim
