#pragma once
// What the services of an emulated PC change, kept in <state>/services.json: each service's
// current state and start type, and when a pending state (start or stop in progress) began.
// A missing file means services as the profile describes them; each save replaces the file
// whole (a unique temporary file, then rename), under a lock file, so several processes on one state directory
// never lose each other's changes.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/services/service_profile.h"

namespace tarvex::sim {

struct ServiceRecord {
    std::u16string name;
    uint32_t currentState = win::SERVICE_STOPPED;
    uint32_t startType = win::SERVICE_DEMAND_START;
    // When the pending state began: the tick count of the run that began it (`sinceRun`
    // names that run) and the PC's wall time, which is what another run can compare.
    uint64_t sinceTickMs = 0;
    int64_t sinceUnixMs = 0;
    std::string sinceRun;
};

// The record of a service that nobody has touched: its state from the profile.
ServiceRecord InitialServiceRecord(const ServiceProfile& profile);

// Loads the state file; nothing when it does not exist (`error` left empty) or when it cannot
// be read or is damaged (`error` set, naming the file and what is wrong).
std::optional<std::vector<ServiceRecord>> LoadServiceRecords(const std::filesystem::path& file,
                                                             std::string* error);
// The records of a state file's text, every value range-checked; throws JsonError.
std::vector<ServiceRecord> ParseServiceRecords(const std::string& text);
// `errnoOut` gets the errno of a failed write (ENOSPC: the disk is full).
bool SaveServiceRecords(const std::filesystem::path& file,
                        const std::vector<ServiceRecord>& records, std::string* error,
                        int* errnoOut = nullptr);

// Holds an exclusive lock on <file>.lock while it lives, so that a read, change and save of
// the state file by one process is not interleaved with another's. Without a usable lock file
// (a read-only state directory) it holds nothing; saving fails there anyway.
class ServiceStateLock {
  public:
    explicit ServiceStateLock(const std::filesystem::path& file);
    ~ServiceStateLock();
    ServiceStateLock(const ServiceStateLock&) = delete;
    ServiceStateLock& operator=(const ServiceStateLock&) = delete;

  private:
    int fd_ = -1;
};

}  // namespace tarvex::sim
