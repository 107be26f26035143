#pragma once
// The service control manager calls that switch and stop the monitoring service.
#include <cstdint>
#include <memory>
#include <string_view>

namespace tarvex::platform {

struct ServiceStatus {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;  // SERVICE_STOPPED, SERVICE_RUNNING, ...
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// An OpenServiceW handle; CloseServiceHandle when destroyed.
class Service {
public:
    virtual ~Service() = default;
    virtual bool QueryServiceStatus(ServiceStatus* status) = 0;
    // ChangeServiceConfigW with only the start type changed (SERVICE_NO_CHANGE elsewhere).
    virtual bool ChangeServiceStartType(uint32_t startType) = 0;
    virtual bool StartService() = 0;
    // ControlService(SERVICE_CONTROL_STOP, ...).
    virtual bool ControlService(uint32_t control, ServiceStatus* status) = 0;
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;  // CloseServiceHandle
    // Null with ERROR_SERVICE_DOES_NOT_EXIST for an unknown name.
    virtual std::unique_ptr<Service> OpenService(std::u16string_view name, uint32_t access) = 0;
};

class Services {
public:
    virtual ~Services() = default;
    // OpenSCManagerW(NULL, NULL, access).
    virtual std::unique_ptr<ServiceManager> OpenSCManager(uint32_t access) = 0;
};

}  // namespace tarvex::platform
