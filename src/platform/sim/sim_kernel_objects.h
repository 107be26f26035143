#pragma once
// The emulated PC's named mutexes. Each handle of this process to a named mutex is an entry
// in a folder of the state directory (SharedEntries, holding the name), so the programs on one
// PC see each other's mutexes, and a program's handles go with it however it ends. A mutex
// exists while any live entry has its name. Two state directories are two PCs.
//
// Names compare exactly (case counts); "Local\" names the same mutex as the bare name,
// "Global\" another one.
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernel_objects.h"
#include "platform/sim/shared_entries.h"
#include "platform/sim/state_files.h"

namespace tarvex::sim {

class SimKernelObjects : public platform::KernelObjects {
public:
    // Mutexes of this process only.
    SimKernelObjects() = default;
    // Mutexes shared by every process whose objects use `sharedDir`.
    explicit SimKernelObjects(std::filesystem::path sharedDir);
    SimKernelObjects(const SimKernelObjects&) = delete;
    SimKernelObjects& operator=(const SimKernelObjects&) = delete;

    platform::Handle CreateMutex(std::u16string_view name) override;
    platform::Handle OpenMutex(std::u16string_view name) override;
    bool CloseHandle(platform::Handle handle) override;

    // Tests: the names of the mutexes this process holds open handles to (one per handle,
    // in the order they were made; "" for an unnamed one).
    std::vector<std::u16string> OpenMutexNames();

private:
    // Whether a mutex of the (canonical) name exists, in this process or another. The caller
    // holds mutex_ and, with a shared folder, its lock.
    bool Exists(const std::u16string& name);
    // Takes the lock of the PC's shared mutex folder (none for a PC of one process); false,
    // with ERROR_ACCESS_DENIED, when it cannot be taken.
    bool LockShared(std::optional<StateLock>& folderLock);
    // A handle to the named mutex, listed in the shared folder. The caller holds mutex_ and
    // the folder lock.
    platform::Handle AddHandle(const std::u16string& name);

    std::mutex mutex_;
    std::optional<SharedEntries> shared_;
    std::map<platform::Handle, std::u16string> handles_;  // this process's handles and their names
};

}  // namespace tarvex::sim
