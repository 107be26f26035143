#pragma once
// The bundle of platform interfaces. One bundle is installed per process at start-up (the
// emulated PC, or a real backend); tests install their own. An interface that the backend
// does not provide is null.
#include "platform/clock.h"
#include "platform/devices.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/kernel_objects.h"
#include "platform/network.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/windowing.h"
#include "platform/wmi.h"

namespace tarvex::platform {

struct Platform {
    Devices* devices = nullptr;
    Registry* registry = nullptr;
    Wmi* wmi = nullptr;
    Services* services = nullptr;
    Files* files = nullptr;
    Volumes* volumes = nullptr;
    FileVersions* fileVersions = nullptr;
    Shell* shell = nullptr;
    Network* network = nullptr;
    System* system = nullptr;
    Clock* clock = nullptr;
    Windows* windows = nullptr;
    Dialogs* dialogs = nullptr;
    KernelObjects* kernelObjects = nullptr;
};

// Installs the process's bundle (the caller keeps it alive while installed); null uninstalls.
void InstallPlatform(const Platform* platform);
// The installed bundle. Using it with none installed is a programming error and aborts.
const Platform& Current();
bool IsInstalled();

// Installs a bundle for the lifetime of a scope and restores the previous one afterwards.
class ScopedPlatform {
public:
    explicit ScopedPlatform(const Platform& platform);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    const Platform* previous_;
};

}  // namespace tarvex::platform
