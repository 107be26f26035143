#pragma once
// Named kernel objects: the mutex a program makes under a fixed name, so that other programs
// on the PC (an installer, an uninstaller, a second copy) can tell that it runs.
#include <cstdint>
#include <string_view>

namespace tarvex::platform {

using Handle = uintptr_t;
inline constexpr Handle kNullHandle = 0;

class KernelObjects {
public:
    virtual ~KernelObjects() = default;

    // CreateMutexW(NULL, FALSE, name): a handle to the mutex of that name, made when no program
    // on the PC holds one. When one exists already (held by this or another program) the
    // handle opens it and the last error is ERROR_ALREADY_EXISTS, otherwise 0. An empty name
    // makes a mutex of this program alone. kNullHandle with the last error set when the name
    // cannot be used.
    virtual Handle CreateMutex(std::u16string_view name) = 0;
    // OpenMutexW(SYNCHRONIZE, FALSE, name): kNullHandle with ERROR_FILE_NOT_FOUND when no
    // program holds a mutex of that name.
    virtual Handle OpenMutex(std::u16string_view name) = 0;
    // CloseHandle. A mutex lasts while any program on the PC holds a handle to it; the
    // handles of a program close when it ends, however it ends.
    virtual bool CloseHandle(Handle handle) = 0;
};

}  // namespace tarvex::platform
