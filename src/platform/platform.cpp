#include "platform/platform.h"

#include "platform/version_record.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace tarvex::platform {
namespace {
std::atomic<const Platform*> installed{nullptr};
}

void InstallPlatform(const Platform* platform) {
    // Referencing the version record keeps it in every program that installs a platform.
    (void)ProgramVersionRecord();
    installed.store(platform);
}

const Platform& Current() {
    const Platform* p = installed.load();
    if (p == nullptr) {
        std::fputs("tarvex: no platform installed\n", stderr);
        std::abort();
    }
    return *p;
}

bool IsInstalled() { return installed.load() != nullptr; }

ScopedPlatform::ScopedPlatform(const Platform& platform) : previous_(installed.load()) {
    (void)ProgramVersionRecord();
    installed.store(&platform);
}

ScopedPlatform::~ScopedPlatform() { installed.store(previous_); }

}  // namespace tarvex::platform
