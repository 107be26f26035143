#include "platform/sim/sim_kernel_objects.h"

#include "platform/last_error.h"
#include "platform/sim/state_files.h"
#include "platform/text.h"
#include "platform/win32_values.h"

namespace tarvex::sim {

namespace fs = std::filesystem;
using platform::Handle;
using platform::kNullHandle;

namespace {

constexpr const char* kEntrySuffix = ".mutex";
constexpr char16_t kGlobalPrefix[] = u"Global\\";
constexpr char16_t kLocalPrefix[] = u"Local\\";

// The name a mutex is known by: "Local\X" is X of the session, "Global\X" the one of the whole
// PC. Nothing, with the last error set, for a name Windows refuses: longer than MAX_PATH, a
// bare prefix, or a backslash below a namespace no program here can make objects in.
std::optional<std::u16string> CanonicalName(std::u16string_view name) {
    if (name.size() > win::MAX_PATH) {
        platform::SetLastError(win::ERROR_FILENAME_EXCED_RANGE);
        return std::nullopt;
    }
    auto startsWith = [&](std::u16string_view p) {
        return name.size() >= p.size() && platform::EqualsIgnoreCase(name.substr(0, p.size()), p);
    };
    std::u16string prefix;
    bool prefixed = false;
    if (startsWith(kGlobalPrefix)) {
        prefix = kGlobalPrefix;
        prefixed = true;
    } else if (startsWith(kLocalPrefix)) {
        prefixed = true;
    }
    if (prefixed) {
        name.remove_prefix(name.find(u'\\') + 1);
        if (name.empty()) {
            platform::SetLastError(win::ERROR_INVALID_NAME);
            return std::nullopt;
        }
    }
    if (name.find(u'\\') != std::u16string_view::npos) {
        platform::SetLastError(win::ERROR_PATH_NOT_FOUND);
        return std::nullopt;
    }
    return prefix + std::u16string(name);
}

}  // namespace

SimKernelObjects::SimKernelObjects(fs::path sharedDir) { shared_.emplace(std::move(sharedDir), kEntrySuffix); }

bool SimKernelObjects::Exists(const std::u16string& name) {
    for (const auto& [h, n] : handles_) {
        if (n == name) {
            return true;
        }
    }
    if (shared_) {
        const std::string wanted = platform::Utf16ToUtf8(name);
        for (const auto& [id, n] : shared_->Others()) {
            if (n == wanted) {
                return true;
            }
        }
    }
    return false;
}

Handle SimKernelObjects::AddHandle(const std::u16string& name) {
    const Handle h = static_cast<Handle>(SharedEntries::NewId());
    if (shared_ && !name.empty() && !shared_->Add(h, platform::Utf16ToUtf8(name))) {
        return kNullHandle;
    }
    handles_[h] = name;
    return h;
}

Handle SimKernelObjects::CreateMutex(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    if (name.empty()) {
        platform::SetLastError(win::ERROR_SUCCESS);
        return AddHandle(u"");
    }
    const auto canonical = CanonicalName(name);
    if (!canonical) {
        return kNullHandle;
    }
    // The look and the making are one step, so of two programs starting at once exactly one
    // makes the mutex and the other finds it.
    std::optional<StateLock> folderLock;
    if (!LockShared(folderLock)) {
        return kNullHandle;
    }
    const bool existed = Exists(*canonical);
    const Handle h = AddHandle(*canonical);
    if (h == kNullHandle) {
        platform::SetLastError(win::ERROR_ACCESS_DENIED);
        return kNullHandle;
    }
    platform::SetLastError(existed ? win::ERROR_ALREADY_EXISTS : win::ERROR_SUCCESS);
    return h;
}

bool SimKernelObjects::LockShared(std::optional<StateLock>& folderLock) {
    if (shared_) {
        folderLock.emplace(shared_->LockFile());
        if (!folderLock->Held()) {
            platform::SetLastError(win::ERROR_ACCESS_DENIED);
            return false;
        }
    }
    return true;
}

Handle SimKernelObjects::OpenMutex(std::u16string_view name) {
    std::lock_guard lock(mutex_);
    if (name.empty()) {
        platform::SetLastError(win::ERROR_INVALID_NAME);
        return kNullHandle;
    }
    const auto canonical = CanonicalName(name);
    if (!canonical) {
        return kNullHandle;
    }
    std::optional<StateLock> folderLock;
    if (!LockShared(folderLock)) {
        return kNullHandle;
    }
    if (!Exists(*canonical)) {
        platform::SetLastError(win::ERROR_FILE_NOT_FOUND);
        return kNullHandle;
    }
    const Handle h = AddHandle(*canonical);
    if (h == kNullHandle) {
        platform::SetLastError(win::ERROR_ACCESS_DENIED);
    }
    return h;
}

bool SimKernelObjects::CloseHandle(Handle handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        platform::SetLastError(win::ERROR_INVALID_HANDLE);
        return false;
    }
    if (shared_ && shared_->Holds(handle)) {
        StateLock folderLock(shared_->LockFile());
        shared_->Remove(handle);
    }
    handles_.erase(it);
    return true;
}

std::vector<std::u16string> SimKernelObjects::OpenMutexNames() {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> out;
    for (const auto& [h, name] : handles_) {
        out.push_back(name);
    }
    return out;
}

}  // namespace tarvex::sim
