#include "platform/sim/services/sim_services.h"

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/last_error.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxServiceNameLength = 256;

// What the generic rights grant on a service handle.
struct GenericMapping {
    uint32_t generic;
    uint32_t specific;
};
constexpr GenericMapping kServiceGenericMapping[] = {
    {win::GENERIC_READ, win::STANDARD_RIGHTS_READ | win::SERVICE_QUERY_CONFIG |
                            win::SERVICE_QUERY_STATUS | win::SERVICE_INTERROGATE |
                            win::SERVICE_ENUMERATE_DEPENDENTS},
    {win::GENERIC_WRITE, win::STANDARD_RIGHTS_WRITE | win::SERVICE_CHANGE_CONFIG},
    {win::GENERIC_EXECUTE, win::STANDARD_RIGHTS_EXECUTE | win::SERVICE_START | win::SERVICE_STOP |
                               win::SERVICE_PAUSE_CONTINUE | win::SERVICE_USER_DEFINED_CONTROL},
    {win::GENERIC_ALL, win::SERVICE_ALL_ACCESS},
};

uint32_t GrantedServiceAccess(uint32_t desired) {
    uint32_t granted = desired;
    for (const GenericMapping& m : kServiceGenericMapping) {
        if ((desired & m.generic) != 0) {
            granted = (granted & ~m.generic) | m.specific;
        }
    }
    return granted;
}

bool Has(uint32_t granted, uint32_t right) {
    return (granted & right) == right;
}

bool IsPending(uint32_t state) {
    return state == win::SERVICE_START_PENDING || state == win::SERVICE_STOP_PENDING;
}

bool SameRecord(const ServiceRecord& a, const ServiceRecord& b) {
    return a.currentState == b.currentState && a.startType == b.startType &&
           a.sinceTickMs == b.sinceTickMs && a.sinceUnixMs == b.sinceUnixMs &&
           a.sinceRun == b.sinceRun;
}

std::string NewRunId() {
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return text;
}

}  // namespace

class SimServices::ManagerHandle : public platform::ServiceManager {
  public:
    explicit ManagerHandle(SimServices& services) : services_(services) {}
    std::unique_ptr<platform::Service> OpenService(std::u16string_view name,
                                                   uint32_t access) override {
        return services_.OpenService(name, access);
    }

  private:
    SimServices& services_;
};

class SimServices::ServiceHandle : public platform::Service {
  public:
    ServiceHandle(SimServices& services, size_t index, uint32_t granted)
        : services_(services), index_(index), granted_(granted) {}
    bool QueryServiceStatus(platform::ServiceStatus* status) override {
        return services_.QueryStatus(index_, granted_, status);
    }
    bool ChangeServiceStartType(uint32_t startType) override {
        return services_.ChangeStartType(index_, granted_, startType);
    }
    bool StartService() override { return services_.Start(index_, granted_); }
    bool ControlService(uint32_t control, platform::ServiceStatus* status) override {
        return services_.Control(index_, granted_, control, status);
    }

  private:
    SimServices& services_;
    size_t index_;
    uint32_t granted_;
};

SimServices::SimServices(const std::vector<ServiceProfile>& services, platform::Clock& clock,
                         fs::path stateFile)
    : profiles_(services), clock_(clock), stateFile_(std::move(stateFile)), runId_(NewRunId()) {
    for (const ServiceProfile& p : profiles_) {
        records_.push_back(InitialServiceRecord(p));
    }
}

SimServices::~SimServices() = default;

std::unique_ptr<SimServices> SimServices::Open(const std::vector<ServiceProfile>& services,
                                               platform::Clock& clock, const fs::path& stateFile,
                                               std::string* error) {
    std::unique_ptr<SimServices> s(new SimServices(services, clock, stateFile));
    ServiceStateLock lock(stateFile);
    std::string problem;
    if (LoadServiceRecords(stateFile, &problem)) {
        s->Refresh();
        return s;
    }
    if (!problem.empty()) {
        *error = problem;
        return nullptr;
    }
    // A new state directory: the services as the profile describes them.
    if (!SaveServiceRecords(stateFile, s->records_, &problem)) {
        *error = "cannot keep the service state: " + problem;
        return nullptr;
    }
    return s;
}

std::unique_ptr<platform::ServiceManager> SimServices::OpenSCManager(uint32_t access) {
    RecordCall({"OpenSCManager", u"", access, true, 0});
    return std::make_unique<ManagerHandle>(*this);
}

std::unique_ptr<platform::Service> SimServices::OpenService(std::u16string_view name,
                                                            uint32_t access) {
    if (name.empty() || name.size() > kMaxServiceNameLength ||
        name.find_first_of(u"/\\") != std::u16string_view::npos) {
        RecordCall({"OpenService", std::u16string(name), access, false, win::ERROR_INVALID_NAME});
        platform::SetLastError(win::ERROR_INVALID_NAME);
        return nullptr;
    }
    for (size_t i = 0; i < profiles_.size(); ++i) {
        if (platform::EqualsIgnoreCase(profiles_[i].name, name)) {
            Record("OpenService", i, access, win::ERROR_SUCCESS);
            return std::make_unique<ServiceHandle>(*this, i, GrantedServiceAccess(access));
        }
    }
    RecordCall(
        {"OpenService", std::u16string(name), access, false, win::ERROR_SERVICE_DOES_NOT_EXIST});
    platform::SetLastError(win::ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
}

bool SimServices::QueryStatus(size_t index, uint32_t granted, platform::ServiceStatus* status) {
    if (status == nullptr) {
        return Record("QueryServiceStatus", index, 0, win::ERROR_INVALID_PARAMETER);
    }
    if (!Has(granted, win::SERVICE_QUERY_STATUS)) {
        return Record("QueryServiceStatus", index, 0, win::ERROR_ACCESS_DENIED);
    }
    std::lock_guard guard(mutex_);
    ServiceStateLock lock(stateFile_);
    const Now now = Refresh();
    FillStatus(index, now, status);
    return Record("QueryServiceStatus", index, 0, win::ERROR_SUCCESS);
}

bool SimServices::ChangeStartType(size_t index, uint32_t granted, uint32_t startType) {
    if (!Has(granted, win::SERVICE_CHANGE_CONFIG)) {
        return Record("ChangeServiceConfig", index, startType, win::ERROR_ACCESS_DENIED);
    }
    // Boot and system start are for drivers; a service process takes only these.
    if (startType != win::SERVICE_NO_CHANGE && startType != win::SERVICE_AUTO_START &&
        startType != win::SERVICE_DEMAND_START && startType != win::SERVICE_DISABLED) {
        return Record("ChangeServiceConfig", index, startType, win::ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(mutex_);
    ServiceStateLock lock(stateFile_);
    Refresh();
    uint32_t error = win::ERROR_SUCCESS;
    if (startType != win::SERVICE_NO_CHANGE && records_[index].startType != startType) {
        const ServiceRecord before = records_[index];
        records_[index].startType = startType;
        error = Commit(index, before);
    }
    return Record("ChangeServiceConfig", index, startType, error);
}

bool SimServices::Start(size_t index, uint32_t granted) {
    if (!Has(granted, win::SERVICE_START)) {
        return Record("StartService", index, 0, win::ERROR_ACCESS_DENIED);
    }
    std::lock_guard guard(mutex_);
    ServiceStateLock lock(stateFile_);
    const Now now = Refresh();
    ServiceRecord& r = records_[index];
    const ServiceProfile& p = profiles_[index];
    uint32_t error = win::ERROR_SUCCESS;
    // A service stopping is still running until it reports STOPPED.
    if (r.currentState != win::SERVICE_STOPPED) {
        error = win::ERROR_SERVICE_ALREADY_RUNNING;
    } else if (r.startType == win::SERVICE_DISABLED) {
        error = win::ERROR_SERVICE_DISABLED;
    } else if (p.failStartError != 0) {
        error = p.failStartError;
    } else {
        const ServiceRecord before = r;
        if (p.startMs == 0) {
            r.currentState = win::SERVICE_RUNNING;
        } else {
            r.currentState = win::SERVICE_START_PENDING;
            r.sinceTickMs = now.tickMs;
            r.sinceUnixMs = now.unixMs;
            r.sinceRun = runId_;
        }
        error = Commit(index, before);
    }
    return Record("StartService", index, 0, error);
}

bool SimServices::Control(size_t index, uint32_t granted, uint32_t control,
                          platform::ServiceStatus* status) {
    uint32_t right = 0;
    if (control == win::SERVICE_CONTROL_STOP) {
        right = win::SERVICE_STOP;
    } else if (control == win::SERVICE_CONTROL_INTERROGATE) {
        right = win::SERVICE_INTERROGATE;
    }
    if (right == 0 || status == nullptr) {
        return Record("ControlService", index, control, win::ERROR_INVALID_PARAMETER);
    }
    if (!Has(granted, right)) {
        return Record("ControlService", index, control, win::ERROR_ACCESS_DENIED);
    }
    std::lock_guard guard(mutex_);
    ServiceStateLock lock(stateFile_);
    Now now = Refresh();
    ServiceRecord& r = records_[index];
    uint32_t error = win::ERROR_SUCCESS;
    if (r.currentState == win::SERVICE_STOPPED) {
        error = win::ERROR_SERVICE_NOT_ACTIVE;
    } else if (control == win::SERVICE_CONTROL_INTERROGATE) {
        // The service answers with its status; nothing changes.
    } else if (IsPending(r.currentState)) {
        error = win::ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    } else {
        const ServiceRecord before = r;
        if (profiles_[index].stopMs == 0) {
            r.currentState = win::SERVICE_STOPPED;
        } else {
            r.currentState = win::SERVICE_STOP_PENDING;
            r.sinceTickMs = now.tickMs;
            r.sinceUnixMs = now.unixMs;
            r.sinceRun = runId_;
        }
        error = Commit(index, before);
        if (error != win::ERROR_SUCCESS) {
            return Record("ControlService", index, control, error);
        }
    }
    // The status is the service's latest also when it cannot take the control.
    FillStatus(index, now, status);
    return Record("ControlService", index, control, error);
}

std::optional<SimServices::Snapshot> SimServices::Find(std::u16string_view name) {
    for (const Snapshot& s : List()) {
        if (platform::EqualsIgnoreCase(s.name, name)) {
            return s;
        }
    }
    return std::nullopt;
}

std::vector<SimServices::Snapshot> SimServices::List() {
    std::lock_guard guard(mutex_);
    ServiceStateLock lock(stateFile_);
    Refresh();
    std::vector<Snapshot> list;
    for (size_t i = 0; i < profiles_.size(); ++i) {
        list.push_back({profiles_[i].name, profiles_[i].displayName, records_[i].currentState,
                        records_[i].startType});
    }
    return list;
}

std::vector<SimServices::Call> SimServices::Calls() {
    std::lock_guard guard(callsMutex_);
    return {calls_.begin(), calls_.end()};
}

void SimServices::ClearCalls() {
    std::lock_guard guard(callsMutex_);
    calls_.clear();
}

SimServices::Now SimServices::CurrentTime() {
    return {clock_.GetTickCount64(),
            platform::UnixMsFromFileTime(clock_.GetSystemTimeAsFileTime())};
}

SimServices::Now SimServices::Refresh() {
    std::string problem;
    if (auto loaded = LoadServiceRecords(stateFile_, &problem)) {
        // A service the file does not know (the profile gained it) keeps its record.
        for (size_t i = 0; i < profiles_.size(); ++i) {
            for (const ServiceRecord& r : *loaded) {
                if (platform::EqualsIgnoreCase(r.name, profiles_[i].name)) {
                    records_[i] = r;
                    records_[i].name = profiles_[i].name;
                }
            }
        }
    }
    const Now now = CurrentTime();
    bool settled = false;
    for (size_t i = 0; i < profiles_.size(); ++i) {
        settled = Settle(i, now) || settled;
    }
    // Keep an ended transition ended: from another run, the wall time it was judged by may
    // still move past its start later.
    if (settled) {
        (void)SaveServiceRecords(stateFile_, records_, &problem);
    }
    return now;
}

uint64_t SimServices::ElapsedMs(const ServiceRecord& r, const Now& now) const {
    if (r.sinceRun == runId_) {
        return now.tickMs >= r.sinceTickMs ? now.tickMs - r.sinceTickMs : 0;
    }
    if (now.unixMs < r.sinceUnixMs) {
        return UINT64_MAX;
    }
    return static_cast<uint64_t>(now.unixMs - r.sinceUnixMs);
}

bool SimServices::Settle(size_t index, const Now& now) {
    ServiceRecord& r = records_[index];
    const ServiceProfile& p = profiles_[index];
    if (!IsPending(r.currentState)) {
        return false;
    }
    const uint64_t duration = r.currentState == win::SERVICE_START_PENDING ? p.startMs : p.stopMs;
    if (ElapsedMs(r, now) < duration) {
        return false;
    }
    r.currentState =
        r.currentState == win::SERVICE_START_PENDING ? win::SERVICE_RUNNING : win::SERVICE_STOPPED;
    r.sinceTickMs = 0;
    r.sinceUnixMs = 0;
    r.sinceRun.clear();
    return true;
}

void SimServices::FillStatus(size_t index, const Now& now, platform::ServiceStatus* status) const {
    const ServiceRecord& r = records_[index];
    *status = platform::ServiceStatus{};
    status->serviceType = win::SERVICE_WIN32_OWN_PROCESS;
    status->currentState = r.currentState;
    status->controlsAccepted =
        r.currentState == win::SERVICE_RUNNING ? win::SERVICE_ACCEPT_STOP : 0;
    if (IsPending(r.currentState)) {
        // The service reports progress every second and expects to be done in the time left.
        const ServiceProfile& p = profiles_[index];
        const uint64_t duration =
            r.currentState == win::SERVICE_START_PENDING ? p.startMs : p.stopMs;
        const uint64_t elapsed = std::min(ElapsedMs(r, now), duration);
        status->checkPoint = static_cast<uint32_t>(1 + elapsed / 1000);
        status->waitHint = static_cast<uint32_t>(std::max<uint64_t>(1, duration - elapsed));
    }
}

uint32_t SimServices::Commit(size_t index, const ServiceRecord& before) {
    if (SameRecord(before, records_[index])) {
        return win::ERROR_SUCCESS;
    }
    std::string problem;
    int e = 0;
    if (!SaveServiceRecords(stateFile_, records_, &problem, &e)) {
        records_[index] = before;
        return e == ENOSPC || e == EDQUOT ? win::ERROR_DISK_FULL : win::ERROR_GEN_FAILURE;
    }
    return win::ERROR_SUCCESS;
}

bool SimServices::Record(const char* function, size_t index, uint32_t argument, uint32_t error) {
    RecordCall({function, profiles_[index].name, argument, error == win::ERROR_SUCCESS, error});
    if (error != win::ERROR_SUCCESS) {
        platform::SetLastError(error);
    }
    return error == win::ERROR_SUCCESS;
}

void SimServices::RecordCall(Call call) {
    std::lock_guard guard(callsMutex_);
    calls_.push_back(std::move(call));
    while (calls_.size() > kMaxCalls) {
        calls_.pop_front();
    }
}

}  // namespace tarvex::sim
