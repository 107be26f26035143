#pragma once
// The emulated PC's service control manager: the services of the profile, opened by name
// (ignoring case), each call checked against the access the handle was opened with, and
// starts and stops that stay pending for the profile's time on the PC's clock.
//
// The state lives in <state>/services.json and is read again by every call, so a change made
// by another process on the same state directory (tarvexctl while the GUI runs) is seen at
// once and never overwritten. A pending state ends when a call looks at it: within the run
// that began it by the tick count, from another run by the PC's wall time (a wall clock that
// went back, as a pinned or virtual clock start does, means that run is over and so is the
// transition). Thread-safe.
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/services.h"
#include "platform/sim/services/service_profile.h"
#include "platform/sim/services/service_state.h"

namespace tarvex::sim {

class SimServices : public platform::Services {
  public:
    // Builds the services of the profile with their state from `stateFile`, which is written
    // from the profile when it is missing. Null with `error` set when the file is damaged or
    // cannot be written. The clock must outlive the object, and every handle must go before it.
    static std::unique_ptr<SimServices> Open(const std::vector<ServiceProfile>& services,
                                             platform::Clock& clock,
                                             const std::filesystem::path& stateFile,
                                             std::string* error);
    ~SimServices() override;

    // Always succeeds: SC_MANAGER_CONNECT is implied, as OpenSCManagerW implies it.
    std::unique_ptr<platform::ServiceManager> OpenSCManager(uint32_t access) override;

    // Tests and tools: a service as a call would see it now.
    struct Snapshot {
        std::u16string name;
        std::u16string displayName;
        uint32_t currentState = 0;
        uint32_t startType = 0;
    };
    std::optional<Snapshot> Find(std::u16string_view name);
    std::vector<Snapshot> List();

    // Every call made, oldest first (the most recent kMaxCalls).
    struct Call {
        std::string function;    // "OpenSCManager", "OpenService", "QueryServiceStatus", ...
        std::u16string service;  // empty for OpenSCManager
        uint32_t argument = 0;   // the access asked for, the start type, the control code
        bool result = false;
        uint32_t error = 0;  // the last error when the call failed
    };
    static constexpr size_t kMaxCalls = 1000;
    std::vector<Call> Calls();
    void ClearCalls();

  private:
    class ManagerHandle;
    class ServiceHandle;
    struct Now {
        uint64_t tickMs = 0;
        int64_t unixMs = 0;
    };

    SimServices(const std::vector<ServiceProfile>& services, platform::Clock& clock,
                std::filesystem::path stateFile);

    // The calls of the handles; each takes the locks, reads the state file and settles
    // pending states first.
    std::unique_ptr<platform::Service> OpenService(std::u16string_view name, uint32_t access);
    bool QueryStatus(size_t index, uint32_t granted, platform::ServiceStatus* status);
    bool ChangeStartType(size_t index, uint32_t granted, uint32_t startType);
    bool Start(size_t index, uint32_t granted);
    bool Control(size_t index, uint32_t granted, uint32_t control, platform::ServiceStatus* status);

    Now CurrentTime();
    // Takes the records from the state file when it is readable (else keeps those in memory),
    // then ends the pending states whose time is up; saves when that changed any.
    Now Refresh();
    uint64_t ElapsedMs(const ServiceRecord& record, const Now& now) const;
    bool Settle(size_t index, const Now& now);
    void FillStatus(size_t index, const Now& now, platform::ServiceStatus* status) const;
    // Saves the records after a change of service `index`; on failure puts `before` back and
    // returns ERROR_GEN_FAILURE.
    uint32_t Commit(size_t index, const ServiceRecord& before);
    bool Record(const char* function, size_t index, uint32_t argument, uint32_t error);
    void RecordCall(Call call);

    std::vector<ServiceProfile> profiles_;
    platform::Clock& clock_;
    std::filesystem::path stateFile_;
    std::string runId_;  // names this run in the pending states it begins

    std::mutex mutex_;                    // the records, and the state file within this process
    std::vector<ServiceRecord> records_;  // parallel to profiles_
    std::mutex callsMutex_;
    std::deque<Call> calls_;
};

}  // namespace tarvex::sim
